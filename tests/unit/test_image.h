// PE images made in memory for the tests of the image hash, the import walk and the file
// digests: headers of 0x200 bytes (16 data directories, one section) in either form, then the
// raw data of that one section, which lies at RVA 0x1000.
#pragma once

#include <cstdint>
#include <vector>

#include "inventory/pe_image.h"

namespace tolvessa::testing {

class TestImage {
  public:
    static constexpr std::uint32_t kPeAt = 0x80;
    static constexpr std::uint32_t kOptionalAt = kPeAt + 4 + 20;
    static constexpr std::uint32_t kChecksumAt = kOptionalAt + 64;
    static constexpr std::uint32_t kHeadersSize = 0x200;
    static constexpr std::uint32_t kSectionRva = 0x1000;

    // `sectionData` becomes the section's raw data, padded with zeros to a multiple of 0x200.
    TestImage(bool plus, std::vector<std::uint8_t> sectionData) : plus_(plus) {
        const std::size_t rawSize = (sectionData.size() + 0x1FF) / 0x200 * 0x200;
        sectionData.resize(rawSize);
        bytes.assign(kHeadersSize, 0);
        bytes[0] = 'M';
        bytes[1] = 'Z';
        Write32(bytes, 0x3C, kPeAt);
        bytes[kPeAt] = 'P';
        bytes[kPeAt + 1] = 'E';
        Write16(bytes, kPeAt + 4, plus ? 0x8664 : 0x14C);
        Write16(bytes, kPeAt + 4 + 2, 1);                  // NumberOfSections
        Write16(bytes, kPeAt + 4 + 16, plus ? 240 : 224);  // SizeOfOptionalHeader
        Write16(bytes, kPeAt + 4 + 18, 0x0102);            // Characteristics
        Write16(bytes, kOptionalAt, plus ? kPe32PlusMagic : kPe32Magic);
        Write32(bytes, kOptionalAt + 32, 0x1000);  // SectionAlignment
        Write32(bytes, kOptionalAt + 36, 0x200);   // FileAlignment
        Write32(bytes, kOptionalAt + 56, static_cast<std::uint32_t>(kSectionRva + rawSize));
        Write32(bytes, kOptionalAt + 60, kHeadersSize);  // SizeOfHeaders
        Write32(bytes, kChecksumAt, 0x5A5A5A5A);
        Write32(bytes, DirectoryAt(0) - 4, 16);  // NumberOfRvaAndSizes
        const std::uint32_t section = SectionHeaderAt();
        for (int i = 0; i < 6; ++i)
            bytes[section + i] = static_cast<std::uint8_t>(".idata"[i]);
        Write32(bytes, section + 8, static_cast<std::uint32_t>(rawSize));   // VirtualSize
        Write32(bytes, section + 12, kSectionRva);                          // VirtualAddress
        Write32(bytes, section + 16, static_cast<std::uint32_t>(rawSize));  // SizeOfRawData
        Write32(bytes, section + 20, kHeadersSize);                         // PointerToRawData
        bytes.insert(bytes.end(), sectionData.begin(), sectionData.end());
    }

    std::uint32_t DirectoryAt(std::uint32_t index) const {
        return kOptionalAt + (plus_ ? 112 : 96) + 8 * index;
    }
    std::uint32_t SectionHeaderAt() const { return kOptionalAt + (plus_ ? 240 : 224); }
    // The file offset of an RVA inside the section.
    static std::uint64_t Offset(std::uint64_t rva) { return rva - kSectionRva + kHeadersSize; }

    void SetDirectory(std::uint32_t index, std::uint32_t address, std::uint32_t size) {
        Write32(bytes, DirectoryAt(index), address);
        Write32(bytes, DirectoryAt(index) + 4, size);
    }

    // Signs the image as signing tools lay it out: zeros up to a multiple of 8, then a
    // certificate table of `size` bytes (of 0xC5) named by its directory entry. Its offset.
    std::uint32_t AppendCertificateTable(std::uint32_t size) {
        bytes.resize((bytes.size() + 7) / 8 * 8, 0);
        const auto at = static_cast<std::uint32_t>(bytes.size());
        bytes.resize(bytes.size() + size, 0xC5);
        SetDirectory(kPeCertificateDirectory, at, size);
        return at;
    }

    std::vector<std::uint8_t> bytes;

  private:
    bool plus_;
};

}  // namespace tolvessa::testing
