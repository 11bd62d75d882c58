#include "trust/certificate_table.h"

#include <array>

namespace tolvessa {

std::optional<PeCertificateLayout> ReadCertificateLayout(ByteSource& file) {
    const std::optional<PeImage> image = PeImage::Parse(file);
    if (!image)
        return std::nullopt;
    return ReadCertificateLayout(*image);
}

std::optional<PeCertificateLayout> ReadCertificateLayout(const PeImage& image) {
    const std::optional<PeDataDirectory> directory = image.CertificateTable();
    if (!directory)
        return std::nullopt;

    PeCertificateLayout layout;
    layout.checksumOffset = image.ChecksumOffset();
    layout.directoryOffset = directory->entryOffset;
    layout.tableOffset = directory->virtualAddress;
    layout.tableSize = directory->size;
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
        if (end - at < header.size() || !ReadBytes(file, at, header))
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
    return length >= kCertificateHeaderSize && RangeFits(file.Size(), offset, length);
}

}  // namespace tolvessa
