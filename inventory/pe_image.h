// Reading PE images (PE32 and PE32+) from any byte source, with bounds checks so that nothing
// outside the source is ever asked for: little-endian fields, the headers, the data directories,
// the section table and the mapping of relative virtual addresses to file offsets; and `PeImage`,
// an image parsed once with what its readers ask of it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
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

// Data directory indexes, and how many the format defines.
inline constexpr std::uint32_t kPeImportDirectory = 1;
inline constexpr std::uint32_t kPeResourceDirectory = 2;
inline constexpr std::uint32_t kPeCertificateDirectory = 4;
inline constexpr std::uint32_t kPeDebugDirectory = 6;
inline constexpr std::uint32_t kPeIatDirectory = 12;
inline constexpr std::uint32_t kPeDirectoryLimit = 16;

inline constexpr std::uint32_t kPeDataDirectorySize = 8;
inline constexpr std::uint32_t kPeSectionHeaderSize = 40;

// The DOS header's e_lfanew, the "PE\0\0" signature, the file header and the fixed part of the
// optional header, up to and with NumberOfRvaAndSizes. Offsets are from the start of the file.
struct PeHeaders {
    std::uint64_t signatureOffset = 0;  // e_lfanew
    std::uint16_t machine = 0;
    std::uint16_t sectionCount = 0;
    std::uint32_t timeDateStamp = 0;
    std::uint16_t optionalHeaderSize = 0;  // SizeOfOptionalHeader
    std::uint16_t characteristics = 0;     // the file header's
    std::uint64_t optionalHeaderOffset = 0;
    std::uint16_t magic = 0;  // kPe32Magic or kPe32PlusMagic
    std::uint32_t sectionAlignment = 0;
    std::uint32_t fileAlignment = 0;
    std::uint32_t sizeOfImage = 0;
    std::uint32_t sizeOfHeaders = 0;  // SizeOfHeaders
    std::uint16_t dllCharacteristics = 0;
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

// Section characteristics.
inline constexpr std::uint32_t kPeSectionExecute = 0x20000000;  // IMAGE_SCN_MEM_EXECUTE
inline constexpr std::uint32_t kPeSectionRead = 0x40000000;     // IMAGE_SCN_MEM_READ
inline constexpr std::uint32_t kPeSectionWrite = 0x80000000;    // IMAGE_SCN_MEM_WRITE

struct PeSection {
    std::uint32_t virtualAddress = 0;
    std::uint32_t virtualSize = 0;
    std::uint32_t rawSize = 0;     // SizeOfRawData
    std::uint32_t rawPointer = 0;  // PointerToRawData
    std::uint32_t characteristics = 0;
    std::array<std::uint8_t, 8> name{};  // as stored: zero-padded, no terminator when 8 long

    bool IsWritable() const { return (characteristics & kPeSectionWrite) != 0; }
    bool IsExecutable() const { return (characteristics & kPeSectionExecute) != 0; }
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

// ---- The parsed image ----

struct ByteRange {
    std::uint64_t begin = 0;
    std::uint64_t end = 0;  // one past the last byte
    bool operator==(const ByteRange&) const = default;
};

// The bytes the Authenticode image hash is taken over: the ranges in file order, then
// `zeroPadding` zero bytes.
struct ImageHashPlan {
    std::vector<ByteRange> ranges;
    std::uint64_t zeroPadding = 0;
};

// Debug directory entry types.
inline constexpr std::uint32_t kPeDebugCodeView = 2;
inline constexpr std::uint32_t kPeDebugRepro = 16;
inline constexpr std::uint32_t kPeDebugEntrySize = 28;  // IMAGE_DEBUG_DIRECTORY

struct PeDebugEntry {
    std::uint32_t type = 0;
    std::uint32_t timeDateStamp = 0;
    std::uint32_t dataSize = 0;     // SizeOfData
    std::uint32_t dataRva = 0;      // AddressOfRawData, as stored (0: not mapped)
    std::uint32_t dataPointer = 0;  // PointerToRawData, as stored
    std::uint64_t entryOffset = 0;  // where the entry itself lies in the file
    // PointerToRawData when the data lies whole in the file.
    std::optional<std::uint64_t> dataOffset;
};

// One import of a library: by ordinal, or by the name of its hint/name entry (as stored, any
// bytes but zero, cut at 512).
struct PeImport {
    bool byOrdinal = false;
    std::uint16_t ordinal = 0;
    std::string name;
};

struct PeImportLibrary {
    // The descriptor's name as stored; nothing when it lies outside the file-backed part of the
    // sections or the file ends before its zero.
    std::optional<std::string> name;
    std::vector<PeImport> imports;  // in thunk order
};

// Where a piece of the image lies in the file.
struct PeFileRange {
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
};

// A PE image, its headers read and checked once. What is damaged past the headers (the section
// table, a directory, the debug directory) does not make the whole image unreadable: each of its
// readers says so on its own, as the callers need.
class PeImage {
  public:
    // Nothing when ReadPeHeaders finds no image. Reads the data directories, the section table
    // and the debug directory; the image hash plan is worked out from them.
    static std::optional<PeImage> Parse(ByteSource& source);

    // The size of the source when it was parsed; every offset below lies inside it.
    std::uint64_t FileSize() const { return fileSize_; }
    const PeHeaders& Headers() const { return headers_; }

    std::uint16_t Machine() const { return headers_.machine; }
    std::uint32_t TimeDateStamp() const { return headers_.timeDateStamp; }
    std::uint16_t Characteristics() const { return headers_.characteristics; }
    std::uint16_t Magic() const { return headers_.magic; }
    bool IsPe32Plus() const { return headers_.IsPe32Plus(); }
    std::uint32_t SectionAlignment() const { return headers_.sectionAlignment; }
    std::uint32_t FileAlignment() const { return headers_.fileAlignment; }
    std::uint32_t SizeOfImage() const { return headers_.sizeOfImage; }
    std::uint32_t SizeOfHeaders() const { return headers_.sizeOfHeaders; }
    std::uint64_t ChecksumOffset() const { return headers_.checksumOffset; }
    std::uint16_t DllCharacteristics() const { return headers_.dllCharacteristics; }

    // Directory entry `index` (below kPeDirectoryLimit), as ReadDataDirectory gives it.
    std::optional<PeDataDirectory> Directory(std::uint32_t index) const;
    // The import address table's directory entry.
    std::optional<PeDataDirectory> ImportAddressTable() const { return Directory(kPeIatDirectory); }
    // The certificate table's directory entry: VirtualAddress is a file offset.
    std::optional<PeDataDirectory> CertificateTable() const {
        return Directory(kPeCertificateDirectory);
    }

    // The section table in table order; empty when it does not lie whole in the file.
    bool SectionTableInFile() const { return sectionTableInFile_; }
    std::span<const PeSection> Sections() const { return sections_; }
    // As RvaToFileOffset over the sections and the file.
    std::optional<std::uint64_t> FileOffset(std::uint64_t rva, std::uint64_t count) const {
        return RvaToFileOffset(sections_, fileSize_, rva, count);
    }

    // What the Authenticode image hash covers. The hash covers the whole file except the
    // optional header's CheckSum, the certificate-table directory entry and the certificate
    // table. A file without a table is followed by zeros until its length is a multiple of 8,
    // as signing tools pad a file before they append a table, so a file and its signed copy
    // hash alike.
    //
    // Nothing when the image cannot be hashed soundly: no certificate-table directory entry;
    // SizeOfHeaders past the end of the file or short of the directory entries; a section table
    // or a section's raw data past the end of the file; a certificate table that starts inside
    // the headers or inside a section's raw data, reaches past the end of the file, or does not
    // end where the file ends (data after the table would be covered by no signature, and tools
    // disagree on it).
    const std::optional<ImageHashPlan>& HashPlan() const { return hashPlan_; }

    // The debug directory's entries in order; empty when there is none or it is damaged: not
    // whole in the file-backed part of a section, or more entries than any image has.
    std::span<const PeDebugEntry> DebugEntries() const { return debugEntries_; }
    bool DebugDirectoryDamaged() const { return debugDirectoryDamaged_; }

    // The import table, read from `source` (the source this image was parsed from); empty for
    // an image without one. Nothing when it is damaged: a descriptor, thunk array or function
    // name outside the file-backed part of the sections, a thunk that is neither an ordinal
    // below 65536 nor a 32-bit RVA, or more libraries or thunks than any image has.
    std::optional<std::vector<PeImportLibrary>> Imports(ByteSource& source) const;

    // The data of the RT_VERSION resource (its first name, first language), read from `source`
    // (the source this image was parsed from), when the resource directory leads to it and the
    // data lies whole in the file-backed part of a section. What the data holds is not looked at.
    std::optional<PeFileRange> VersionResource(ByteSource& source) const;

  private:
    PeImage() = default;

    std::uint64_t fileSize_ = 0;
    PeHeaders headers_;
    std::vector<PeDataDirectory> directories_;  // those the header and the file hold, in order
    bool sectionTableInFile_ = false;
    std::vector<PeSection> sections_;
    std::optional<ImageHashPlan> hashPlan_;
    std::vector<PeDebugEntry> debugEntries_;
    bool debugDirectoryDamaged_ = false;
};

}  // namespace tolvessa
