// Reading PE images (PE32 and PE32+) from any byte source, with bounds checks so that nothing
// outside the source is ever asked for: little-endian fields, the headers, the data directories,
// the section table and the mapping of relative virtual addresses to file offsets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace tolvessa {

// ---- Little-endian fields ----
// `at` and the field's width must lie inside `bytes`.

inline std::uint16_t Read16(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<std::uint16_t>(bytes[at] | bytes[at + 1] << 8);
}

inline std::uint32_t Read32(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<std::uint32_t>(Read16(bytes, at)) |
           static_cast<std::uint32_t>(Read16(bytes, at + 2)) << 16;
}

inline std::uint64_t Read64(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<std::uint64_t>(Read32(bytes, at)) |
           static_cast<std::uint64_t>(Read32(bytes, at + 4)) << 32;
}

inline void Write16(std::span<std::uint8_t> bytes, std::size_t at, std::uint16_t value) {
    bytes[at] = static_cast<std::uint8_t>(value);
    bytes[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

inline void Write32(std::span<std::uint8_t> bytes, std::size_t at, std::uint32_t value) {
    Write16(bytes, at, static_cast<std::uint16_t>(value));
    Write16(bytes, at + 2, static_cast<std::uint16_t>(value >> 16));
}

inline void Write64(std::span<std::uint8_t> bytes, std::size_t at, std::uint64_t value) {
    Write32(bytes, at, static_cast<std::uint32_t>(value));
    Write32(bytes, at + 4, static_cast<std::uint32_t>(value >> 32));
}

// ---- Byte sources ----

// A file's bytes, read at offsets.
class ByteSource {
  public:
    virtual ~ByteSource() = default;
    virtual std::uint64_t Size() = 0;
    // Reads exactly buffer.size() bytes at `offset`; false when they cannot all be read.
    virtual bool ReadAt(std::uint64_t offset, std::span<std::uint8_t> buffer) = 0;
};

// Bytes held in memory (not owned).
class MemorySource : public ByteSource {
  public:
    explicit MemorySource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    std::uint64_t Size() override { return bytes_.size(); }
    bool ReadAt(std::uint64_t offset, std::span<std::uint8_t> buffer) override;

  private:
    std::span<const std::uint8_t> bytes_;
};

// Whether `count` bytes at `offset` lie inside a source of `size` bytes.
inline bool RangeFits(std::uint64_t size, std::uint64_t offset, std::uint64_t count) {
    return offset <= size && count <= size - offset;
}

// Reads exactly buffer.size() bytes at `offset`, asking the source only when they lie inside it.
bool ReadBytes(ByteSource& source, std::uint64_t offset, std::span<std::uint8_t> buffer);

// ---- Headers ----

inline constexpr std::uint16_t kPe32Magic = 0x10B;
inline constexpr std::uint16_t kPe32PlusMagic = 0x20B;

// Data directory indexes.
inline constexpr std::uint32_t kPeResourceDirectory = 2;
inline constexpr std::uint32_t kPeCertificateDirectory = 4;

inline constexpr std::uint32_t kPeDataDirectorySize = 8;
inline constexpr std::uint32_t kPeSectionHeaderSize = 40;

// The DOS header's e_lfanew, the "PE\0\0" signature, the file header and the fixed part of the
// optional header, up to and with NumberOfRvaAndSizes. Offsets are from the start of the file.
struct PeHeaders {
    std::uint64_t signatureOffset = 0;  // e_lfanew
    std::uint16_t machine = 0;
    std::uint16_t sectionCount = 0;
    std::uint16_t optionalHeaderSize = 0;  // SizeOfOptionalHeader
    std::uint64_t optionalHeaderOffset = 0;
    std::uint16_t magic = 0;           // kPe32Magic or kPe32PlusMagic
    std::uint32_t sizeOfHeaders = 0;   // SizeOfHeaders
    std::uint64_t checksumOffset = 0;  // CheckSum: 4 bytes, at the same place in both forms
    std::uint32_t directoryCount = 0;  // NumberOfRvaAndSizes, as stored
    std::uint64_t directoriesOffset = 0;
    std::uint64_t sectionTableOffset = 0;  // right after the optional header

    bool IsPe32Plus() const { return magic == kPe32PlusMagic; }
};

// Nothing when the source is not such an image: no "MZ", a signature that is not in the file
// or not "PE\0\0", an unknown magic, or an optional header too short for (or a file that ends
// inside) its fixed part.
std::optional<PeHeaders> ReadPeHeaders(ByteSource& source);

struct PeDataDirectory {
    std::uint32_t virtualAddress = 0;  // an RVA; for the certificate table a file offset
    std::uint32_t size = 0;
    std::uint64_t entryOffset = 0;  // where the 8-byte entry itself lies in the file
};

// Directory entry `index`; nothing when the optional header is too short for it,
// NumberOfRvaAndSizes leaves it out, or the file ends inside it.
std::optional<PeDataDirectory> ReadDataDirectory(ByteSource& source, const PeHeaders& headers,
                                                 std::uint32_t index);

// ---- Sections ----

struct PeSection {
    std::uint32_t virtualAddress = 0;
    std::uint32_t virtualSize = 0;
    std::uint32_t rawSize = 0;     // SizeOfRawData
    std::uint32_t rawPointer = 0;  // PointerToRawData
};

// The section headers in table order; nothing when the table does not lie whole in the file.
std::optional<std::vector<PeSection>> ReadSectionTable(ByteSource& source,
                                                       const PeHeaders& headers);

// The sections ordered by where their raw data lies in the file (stable for equal offsets).
std::vector<PeSection> SectionsInFileOrder(std::vector<PeSection> sections);

// The file offset of `count` bytes at `rva`, when they all lie in the file-backed part of the
// first section that holds `rva` (min(VirtualSize, SizeOfRawData), or SizeOfRawData for a
// VirtualSize of 0) and inside a file of `fileSize` bytes.
std::optional<std::uint64_t> RvaToFileOffset(std::span<const PeSection> sections,
                                             std::uint64_t fileSize, std::uint64_t rva,
                                             std::uint64_t count);

}  // namespace tolvessa
