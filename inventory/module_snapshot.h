// The kernel's loaded-module table (system information class 11), in the layout of the process
// that asks for it: a 32-bit process gets 32-bit entries, a 64-bit one 64-bit entries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "inventory/text.h"

namespace tolvessa {

// The two layouts of the table. Both start with a 32-bit count; the 64-bit layout pads it to 8
// bytes. Each entry holds a section handle, the mapped base and the image base (pointer-sized),
// then the image size, flags, four 16-bit fields (load order first) and a 256-byte path.
enum class ModuleTableLayout : std::uint8_t {
    k32Bit,  // 4-byte header, 284-byte entries
    k64Bit,  // 8-byte header, 296-byte entries
};

// Where the fields of an entry are in a layout.
struct ModuleTableFormat {
    std::size_t headerSize;
    std::size_t entrySize;
    std::size_t imageBaseOffset;
    std::size_t addressBytes;  // of the image base: 4 or 8
    std::size_t imageSizeOffset;
    std::size_t loadOrderOffset;
    std::size_t pathOffset;
};

constexpr ModuleTableFormat FormatOf(ModuleTableLayout layout) {
    return layout == ModuleTableLayout::k64Bit ? ModuleTableFormat{8, 296, 16, 8, 24, 32, 40}
                                               : ModuleTableFormat{4, 284, 8, 4, 12, 20, 28};
}

struct ModuleEntry {
    static constexpr std::size_t kPathBytes = 256;

    std::uint64_t imageBase = 0;
    std::uint32_t imageSize = 0;
    std::uint16_t loadOrderIndex = 0;
    // The hex digits that show a whole image base of the entry's layout: 8 or 16.
    int addressDigits = 8;
    // FullPathName up to its first zero byte (all 256 bytes when none is zero), still in the
    // system's ANSI code page.
    std::string fullPathName;
};

// A read-only view over the table's bytes; the bytes belong to the snapshot source.
class ModuleSnapshot {
  public:
    ModuleSnapshot(std::span<const std::uint8_t> bytes, ModuleTableLayout layout)
        : bytes_(bytes), layout_(layout) {}

    ModuleTableLayout Layout() const { return layout_; }
    // NumberOfModules as stored; 0 when the bytes cannot even hold it.
    std::uint32_t ClaimedCount() const;
    // The entries that are present whole after the header: never more than the bytes hold.
    std::size_t Count() const;
    // Entry i, for i < Count(); an empty entry past the last.
    ModuleEntry Entry(std::size_t i) const;

  private:
    std::span<const std::uint8_t> bytes_;
    ModuleTableLayout layout_;
};

// The table's bytes for the given entries in a layout (a recording, for tests and tools): the
// count, then one entry each; paths longer than 256 bytes are cut, and so are image bases that
// the 32-bit layout cannot hold.
std::vector<std::uint8_t> EncodeModuleSnapshot(const std::vector<ModuleEntry>& entries,
                                               ModuleTableLayout layout);

using SnapshotVisitor = std::function<void(const ModuleSnapshot&)>;

// The kernel's loaded-module table, and the ANSI code page the paths in it are written in.
class ModuleTableApi {
  public:
    virtual ~ModuleTableApi() = default;
    // Hands the visitor one snapshot while its buffer lives; false (and no visit) when the table
    // cannot be had.
    virtual bool TakeSnapshot(const SnapshotVisitor& visit) = 0;
    // A path of the table in the system's ANSI code page, as text.
    virtual Text DecodeAnsi(std::string_view ansi) = 0;
};

}  // namespace tolvessa
