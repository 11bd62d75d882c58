// The attribute certificate table of a PE image (PE32 and PE32+): where it is, and its entries
// (WIN_CERTIFICATE: dwLength, wRevision, wCertificateType, bCertificate), read with bounds checks
// so that nothing outside the file is ever asked for.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "inventory/pe_image.h"

namespace tolvessa {

inline constexpr std::uint32_t kCertificateHeaderSize = 8;  // dwLength, wRevision, type
inline constexpr std::uint16_t kCertificateRevision1 = 0x0100;
inline constexpr std::uint16_t kCertificateRevision2 = 0x0200;
inline constexpr std::uint16_t kCertificateTypePkcsSignedData = 0x0002;

// The places in a PE image that the Authenticode digest leaves out, and the table itself.
struct PeCertificateLayout {
    std::uint64_t checksumOffset = 0;   // the optional header's CheckSum (4 bytes)
    std::uint64_t directoryOffset = 0;  // data directory entry 4 (8 bytes)
    std::uint32_t tableOffset = 0;      // the entry's VirtualAddress: a file offset
    std::uint32_t tableSize = 0;        // 0 when the image has no table
};

// The layout from the image headers. Nothing when the file is not a PE image, or when its
// optional header is too short for, or its NumberOfRvaAndSizes leaves out, the certificate-table
// directory entry.
std::optional<PeCertificateLayout> ReadCertificateLayout(ByteSource& file);
// The same for an image already parsed.
std::optional<PeCertificateLayout> ReadCertificateLayout(const PeImage& image);

struct CertificateEntry {
    std::uint64_t offset = 0;  // of the entry's header in the file
    std::uint32_t length = 0;  // dwLength: header and data
    std::uint16_t revision = 0;
    std::uint16_t type = 0;
};

// The entries of the table, in order; none when the image has no table. Nothing when the table
// is malformed: it reaches past the end of the file, or an entry's dwLength is shorter than its
// header or runs past the end of the table. Entries start at 8-byte boundaries.
std::optional<std::vector<CertificateEntry>> ReadCertificateEntries(
    ByteSource& file, const PeCertificateLayout& layout);

// Whether an entry at `offset` with this dwLength lies whole inside the file and holds more
// than its header.
bool CertificateEntryFits(ByteSource& file, std::uint64_t offset, std::uint32_t length);

}  // namespace tolvessa
