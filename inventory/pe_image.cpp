#include "inventory/pe_image.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace tolvessa {

namespace {

constexpr std::size_t kDosHeaderSize = 64;
constexpr std::size_t kLfanewOffset = 0x3C;
constexpr std::size_t kSignatureSize = 4;
constexpr std::size_t kFileHeaderSize = 20;

// Offsets inside the optional header. CheckSum and SizeOfHeaders sit at the same place in both
// forms; NumberOfRvaAndSizes and the directories after it move by the wider ImageBase and
// stack and heap sizes of PE32+.
constexpr std::size_t kSizeOfHeadersOffset = 60;
constexpr std::size_t kChecksumOffset = 64;
constexpr std::size_t kPe32DirectoryCountOffset = 92;
constexpr std::size_t kPe32PlusDirectoryCountOffset = 108;
constexpr std::size_t kLargestFixedPart = kPe32PlusDirectoryCountOffset + 4;

}  // namespace

bool MemorySource::ReadAt(std::uint64_t offset, std::span<std::uint8_t> buffer) {
    if (!RangeFits(bytes_.size(), offset, buffer.size()))
        return false;
    if (!buffer.empty())
        std::memcpy(buffer.data(), bytes_.data() + offset, buffer.size());
    return true;
}

bool ReadBytes(ByteSource& source, std::uint64_t offset, std::span<std::uint8_t> buffer) {
    return RangeFits(source.Size(), offset, buffer.size()) && source.ReadAt(offset, buffer);
}

std::optional<PeHeaders> ReadPeHeaders(ByteSource& source) {
    std::array<std::uint8_t, kDosHeaderSize> dos{};
    if (!ReadBytes(source, 0, dos) || dos[0] != 'M' || dos[1] != 'Z')
        return std::nullopt;

    PeHeaders headers;
    headers.signatureOffset = Read32(dos, kLfanewOffset);
    std::array<std::uint8_t, kSignatureSize + kFileHeaderSize + 2> head{};  // and the magic
    if (!ReadBytes(source, headers.signatureOffset, head) ||
        std::memcmp(head.data(), "PE\0\0", kSignatureSize) != 0) {
        return std::nullopt;
    }
    headers.machine = Read16(head, kSignatureSize);
    headers.sectionCount = Read16(head, kSignatureSize + 2);
    headers.optionalHeaderSize = Read16(head, kSignatureSize + 16);
    headers.optionalHeaderOffset = headers.signatureOffset + kSignatureSize + kFileHeaderSize;
    headers.magic = Read16(head, kSignatureSize + kFileHeaderSize);

    std::size_t countOffset = 0;
    if (headers.magic == kPe32Magic)
        countOffset = kPe32DirectoryCountOffset;
    else if (headers.magic == kPe32PlusMagic)
        countOffset = kPe32PlusDirectoryCountOffset;
    else
        return std::nullopt;
    const std::size_t fixedSize = countOffset + 4;
    if (headers.optionalHeaderSize < fixedSize)
        return std::nullopt;

    std::array<std::uint8_t, kLargestFixedPart> optional{};
    if (!ReadBytes(source, headers.optionalHeaderOffset, std::span(optional).first(fixedSize)))
        return std::nullopt;
    headers.sizeOfHeaders = Read32(optional, kSizeOfHeadersOffset);
    headers.checksumOffset = headers.optionalHeaderOffset + kChecksumOffset;
    headers.directoryCount = Read32(optional, countOffset);
    headers.directoriesOffset = headers.optionalHeaderOffset + fixedSize;
    headers.sectionTableOffset = headers.optionalHeaderOffset + headers.optionalHeaderSize;
    return headers;
}

std::optional<PeDataDirectory> ReadDataDirectory(ByteSource& source, const PeHeaders& headers,
                                                 std::uint32_t index) {
    if (headers.directoryCount <= index)
        return std::nullopt;
    const std::uint64_t entryOffset =
        headers.directoriesOffset + std::uint64_t{index} * kPeDataDirectorySize;
    const std::uint64_t optionalEnd = headers.optionalHeaderOffset + headers.optionalHeaderSize;
    if (entryOffset + kPeDataDirectorySize > optionalEnd)
        return std::nullopt;
    std::array<std::uint8_t, kPeDataDirectorySize> entry{};
    if (!ReadBytes(source, entryOffset, entry))
        return std::nullopt;
    return PeDataDirectory{Read32(entry, 0), Read32(entry, 4), entryOffset};
}

std::optional<std::vector<PeSection>> ReadSectionTable(ByteSource& source,
                                                       const PeHeaders& headers) {
    std::vector<std::uint8_t> table(std::size_t{headers.sectionCount} * kPeSectionHeaderSize);
    if (!ReadBytes(source, headers.sectionTableOffset, table))
        return std::nullopt;
    std::vector<PeSection> sections;
    sections.reserve(headers.sectionCount);
    for (std::size_t at = 0; at < table.size(); at += kPeSectionHeaderSize) {
        sections.push_back({Read32(table, at + 12), Read32(table, at + 8), Read32(table, at + 16),
                            Read32(table, at + 20)});
    }
    return sections;
}

std::vector<PeSection> SectionsInFileOrder(std::vector<PeSection> sections) {
    std::stable_sort(sections.begin(), sections.end(), [](const PeSection& a, const PeSection& b) {
        return a.rawPointer < b.rawPointer;
    });
    return sections;
}

std::optional<std::uint64_t> RvaToFileOffset(std::span<const PeSection> sections,
                                             std::uint64_t fileSize, std::uint64_t rva,
                                             std::uint64_t count) {
    for (const PeSection& s : sections) {
        if (rva < s.virtualAddress)
            continue;
        const std::uint64_t into = rva - s.virtualAddress;
        const std::uint64_t backed =
            s.virtualSize == 0 ? s.rawSize : std::min(s.virtualSize, s.rawSize);
        if (into >= backed)
            continue;
        if (count > backed - into)
            return std::nullopt;
        const std::uint64_t offset = std::uint64_t{s.rawPointer} + into;
        if (!RangeFits(fileSize, offset, count))
            return std::nullopt;
        return offset;
    }
    return std::nullopt;
}

}  // namespace tolvessa
