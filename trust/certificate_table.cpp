#include "trust/certificate_table.h"

#include <array>
#include <cstring>

namespace tolvessa {

namespace {

constexpr std::uint16_t kMagicPe32 = 0x10B;
constexpr std::uint16_t kMagicPe32Plus = 0x20B;
constexpr std::uint32_t kCertificateDirectoryIndex = 4;
constexpr std::uint32_t kDirectoryEntrySize = 8;
constexpr std::uint64_t kFileHeaderSize = 20;

bool Read(ByteSource& file, std::uint64_t offset, std::span<std::uint8_t> buffer) {
    const std::uint64_t size = file.Size();
    return offset <= size && buffer.size() <= size - offset && file.ReadAt(offset, buffer);
}

}  // namespace

bool MemorySource::ReadAt(std::uint64_t offset, std::span<std::uint8_t> buffer) {
    if (offset > bytes_.size() || buffer.size() > bytes_.size() - offset)
        return false;
    if (!buffer.empty())
        std::memcpy(buffer.data(), bytes_.data() + offset, buffer.size());
    return true;
}

std::uint16_t Read16(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<std::uint16_t>(bytes[at] | bytes[at + 1] << 8);
}

std::uint32_t Read32(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<std::uint32_t>(Read16(bytes, at)) |
           static_cast<std::uint32_t>(Read16(bytes, at + 2)) << 16;
}

void Write16(std::span<std::uint8_t> bytes, std::size_t at, std::uint16_t value) {
    bytes[at] = static_cast<std::uint8_t>(value);
    bytes[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

void Write32(std::span<std::uint8_t> bytes, std::size_t at, std::uint32_t value) {
    Write16(bytes, at, static_cast<std::uint16_t>(value));
    Write16(bytes, at + 2, static_cast<std::uint16_t>(value >> 16));
}

std::optional<PeCertificateLayout> ReadCertificateLayout(ByteSource& file) {
    std::array<std::uint8_t, 64> dos{};
    if (!Read(file, 0, dos) || dos[0] != 'M' || dos[1] != 'Z')
        return std::nullopt;
    const std::uint64_t pe = Read32(dos, 0x3C);

    std::array<std::uint8_t, 4 + kFileHeaderSize + 2> head{};
    if (!Read(file, pe, head) || head[0] != 'P' || head[1] != 'E' || head[2] != 0 || head[3] != 0)
        return std::nullopt;
    const std::uint16_t optionalSize = Read16(head, 4 + 16);
    const std::uint64_t optional = pe + 4 + kFileHeaderSize;
    const std::uint16_t magic = Read16(head, 4 + kFileHeaderSize);

    // CheckSum sits at the same place in both forms; the count of directories and the
    // directories themselves move by the wider ImageBase and stack/heap sizes of PE32+.
    std::uint64_t countAt = 0;
    if (magic == kMagicPe32)
        countAt = 92;
    else if (magic == kMagicPe32Plus)
        countAt = 108;
    else
        return std::nullopt;
    const std::uint64_t directoriesAt = countAt + 4;
    const std::uint64_t entryAt = directoriesAt + kCertificateDirectoryIndex * kDirectoryEntrySize;
    if (optionalSize < entryAt + kDirectoryEntrySize)
        return std::nullopt;

    std::array<std::uint8_t, 4> count{};
    std::array<std::uint8_t, kDirectoryEntrySize> entry{};
    if (!Read(file, optional + countAt, count) || !Read(file, optional + entryAt, entry))
        return std::nullopt;
    if (Read32(count, 0) <= kCertificateDirectoryIndex)
        return std::nullopt;

    PeCertificateLayout layout;
    layout.checksumOffset = optional + 64;
    layout.directoryOffset = optional + entryAt;
    layout.tableOffset = Read32(entry, 0);
    layout.tableSize = Read32(entry, 4);
    return layout;
}

std::optional<std::vector<CertificateEntry>> ReadCertificateEntries(
    ByteSource& file, const PeCertificateLayout& layout) {
    std::vector<CertificateEntry> entries;
    if (layout.tableSize == 0)
        return entries;
    const std::uint64_t begin = layout.tableOffset;
    const std::uint64_t end = begin + layout.tableSize;
    if (begin == 0 || end > file.Size())
        return std::nullopt;

    std::uint64_t at = begin;
    while (at < end) {
        std::array<std::uint8_t, kCertificateHeaderSize> header{};
        if (end - at < header.size() || !Read(file, at, header))
            return std::nullopt;
        CertificateEntry item;
        item.offset = at;
        item.length = Read32(header, 0);
        item.revision = Read16(header, 4);
        item.type = Read16(header, 6);
        if (item.length < kCertificateHeaderSize || item.length > end - at)
            return std::nullopt;
        entries.push_back(item);
        at += (static_cast<std::uint64_t>(item.length) + 7) & ~std::uint64_t{7};
    }
    return entries;
}

bool CertificateEntryFits(ByteSource& file, std::uint64_t offset, std::uint32_t length) {
    const std::uint64_t size = file.Size();
    return length >= kCertificateHeaderSize && offset <= size && length <= size - offset;
}

}  // namespace tolvessa
