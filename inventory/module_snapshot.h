// The kernel's loaded-module table (system information class 11) as a 32-bit process sees it.
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

struct ModuleEntry {
    static constexpr std::size_t kSize = 284;
    static constexpr std::size_t kPathBytes = 256;

    std::uint32_t imageBase = 0;
    std::uint32_t imageSize = 0;
    std::uint16_t loadOrderIndex = 0;
    // FullPathName up to its first zero byte (all 256 bytes when none is zero), still in the
    // system's ANSI code page.
    std::string fullPathName;
};

// A read-only view over the table's bytes; the bytes belong to the snapshot source.
class ModuleSnapshot {
  public:
    static constexpr std::size_t kHeaderSize = 4;

    explicit ModuleSnapshot(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    // NumberOfModules as stored; 0 when the bytes cannot even hold it.
    std::uint32_t ClaimedCount() const;
    // The entries that are present whole: never more than the bytes hold.
    std::size_t Count() const;
    // Entry i, for i < Count().
    ModuleEntry Entry(std::size_t i) const;

  private:
    std::span<const std::uint8_t> bytes_;
};

// The table's bytes for the given entries (a recording, for tests and tools): count, then one
// 284-byte entry each; paths longer than 256 bytes are cut.
std::vector<std::uint8_t> EncodeModuleSnapshot(const std::vector<ModuleEntry>& entries);

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
