// The attribute certificate table of a PE image (PE32 and PE32+): where it is, and its entries
// (WIN_CERTIFICATE: dwLength, wRevision, wCertificateType, bCertificate), read with bounds checks
// so that nothing outside the file is ever asked for.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace tolvessa {

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

// Reads the DOS header, the "PE\0\0" signature, the file header and the optional header (magic
// 0x10B or 0x20B). Nothing when the file is not such an image, or when its optional header is
// too short for, or its NumberOfRvaAndSizes leaves out, the certificate-table directory entry.
std::optional<PeCertificateLayout> ReadCertificateLayout(ByteSource& file);

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

// Little-endian fields.
std::uint16_t Read16(std::span<const std::uint8_t> bytes, std::size_t at);
std::uint32_t Read32(std::span<const std::uint8_t> bytes, std::size_t at);
void Write32(std::span<std::uint8_t> bytes, std::size_t at, std::uint32_t value);
void Write16(std::span<std::uint8_t> bytes, std::size_t at, std::uint16_t value);

}  // namespace tolvessa
