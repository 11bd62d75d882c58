#include "inventory/pe_image.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "tests/unit/strict_source.h"

namespace tolvessa {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kPeAt = 0x80;
constexpr std::uint32_t kOptionalAt = kPeAt + 4 + 20;

std::uint32_t CountAt(bool plus) {
    return kOptionalAt + (plus ? 108 : 92);
}

std::uint32_t DirectoryAt(bool plus, std::uint32_t index) {
    return CountAt(plus) + 4 + 8 * index;
}

std::uint16_t OptionalSize(bool plus) {
    return plus ? 240 : 224;
}

std::uint32_t SectionTableAt(bool plus) {
    return kOptionalAt + OptionalSize(plus);
}

// Headers with 16 data directories and two sections, then raw data up to 0x600:
//   .text  RVA 0x1000, VirtualSize 0x300, raw 0x200 bytes at 0x400 (0x100 not in the file)
//   .rsrc  RVA 0x2000, VirtualSize 0 (raw size counts), raw 0x100 bytes at 0x200
// Directory 2 points at 0x2010 (16 bytes), directory 4 is a file offset.
Bytes Image(bool plus) {
    Bytes b(0x600, 0);
    b[0] = 'M';
    b[1] = 'Z';
    Write32(b, 0x3C, kPeAt);
    b[kPeAt] = 'P';
    b[kPeAt + 1] = 'E';
    Write16(b, kPeAt + 4, plus ? 0x8664 : 0x14C);
    Write16(b, kPeAt + 4 + 2, 2);
    Write16(b, kPeAt + 4 + 16, OptionalSize(plus));
    Write16(b, kOptionalAt, plus ? kPe32PlusMagic : kPe32Magic);
    Write32(b, kOptionalAt + 60, 0x200);
    Write32(b, CountAt(plus), 16);
    Write32(b, DirectoryAt(plus, 2), 0x2010);
    Write32(b, DirectoryAt(plus, 2) + 4, 16);
    Write32(b, DirectoryAt(plus, 4), 0x5F0);
    Write32(b, DirectoryAt(plus, 4) + 4, 0x10);
    const std::uint32_t table = SectionTableAt(plus);
    const std::uint32_t sections[2][4] = {{0x300, 0x1000, 0x200, 0x400}, {0, 0x2000, 0x100, 0x200}};
    for (std::uint32_t i = 0; i < 2; ++i) {
        const std::uint32_t at = table + 40 * i;
        b[at] = '.';
        Write32(b, at + 8, sections[i][0]);   // VirtualSize
        Write32(b, at + 12, sections[i][1]);  // VirtualAddress
        Write32(b, at + 16, sections[i][2]);  // SizeOfRawData
        Write32(b, at + 20, sections[i][3]);  // PointerToRawData
    }
    return b;
}

using testing::StrictSource;

TEST(PeByteOrderTest, FieldsAreLittleEndianAtAnyOffset) {
    Bytes b(11, 0);
    Write64(b, 3, 0x0102030405060708ull);
    EXPECT_EQ(b, (Bytes{0, 0, 0, 8, 7, 6, 5, 4, 3, 2, 1}));
    EXPECT_EQ(Read64(b, 3), 0x0102030405060708ull);
    EXPECT_EQ(Read32(b, 4), 0x04050607u);
    EXPECT_EQ(Read16(b, 9), 0x0102u);
    Write32(b, 1, 0xA1B2C3D4u);
    Write16(b, 7, 0xBEEF);
    EXPECT_EQ(b, (Bytes{0, 0xD4, 0xC3, 0xB2, 0xA1, 6, 5, 0xEF, 0xBE, 2, 1}));
}

TEST(PeHeadersTest, ReadsTheHeadersOfBothForms) {
    for (const bool plus : {false, true}) {
        SCOPED_TRACE(plus ? "PE32+" : "PE32");
        const Bytes image = Image(plus);
        StrictSource source(image);
        const auto headers = ReadPeHeaders(source);
        ASSERT_TRUE(headers);
        EXPECT_EQ(headers->signatureOffset, kPeAt);
        EXPECT_EQ(headers->machine, plus ? 0x8664 : 0x14C);
        EXPECT_EQ(headers->sectionCount, 2u);
        EXPECT_EQ(headers->optionalHeaderSize, OptionalSize(plus));
        EXPECT_EQ(headers->optionalHeaderOffset, kOptionalAt);
        EXPECT_EQ(headers->IsPe32Plus(), plus);
        EXPECT_EQ(headers->sizeOfHeaders, 0x200u);
        EXPECT_EQ(headers->checksumOffset, kOptionalAt + 64);
        EXPECT_EQ(headers->directoryCount, 16u);
        EXPECT_EQ(headers->directoriesOffset, CountAt(plus) + 4);
        EXPECT_EQ(headers->sectionTableOffset, SectionTableAt(plus));

        const auto certificates = ReadDataDirectory(source, *headers, kPeCertificateDirectory);
        ASSERT_TRUE(certificates);
        EXPECT_EQ(certificates->virtualAddress, 0x5F0u);
        EXPECT_EQ(certificates->size, 0x10u);
        EXPECT_EQ(certificates->entryOffset, DirectoryAt(plus, 4));
        // The last entry NumberOfRvaAndSizes and the optional header leave room for.
        EXPECT_TRUE(ReadDataDirectory(source, *headers, 15));
        EXPECT_FALSE(ReadDataDirectory(source, *headers, 16));

        const auto sections = ReadSectionTable(source, *headers);
        ASSERT_TRUE(sections);
        ASSERT_EQ(sections->size(), 2u);
        EXPECT_EQ((*sections)[0].virtualAddress, 0x1000u);
        EXPECT_EQ((*sections)[0].virtualSize, 0x300u);
        EXPECT_EQ((*sections)[0].rawSize, 0x200u);
        EXPECT_EQ((*sections)[0].rawPointer, 0x400u);
        const auto inFileOrder = SectionsInFileOrder(*sections);
        EXPECT_EQ(inFileOrder[0].rawPointer, 0x200u);
        EXPECT_EQ(inFileOrder[1].rawPointer, 0x400u);
    }
}

// What each step refuses. `step` names the first read that must fail: the headers, directory 2,
// or the section table.
enum class Step { kHeaders, kDirectory, kSections };

struct Malformed {
    const char* name;
    bool plus;
    std::function<void(Bytes&)> spoil;
    Step step;
};

TEST(PeHeadersTest, RefusesMalformedHeadersWithoutReadingOutsideTheFile) {
    const Malformed cases[] = {
        {"empty file", false, [](Bytes& b) { b.clear(); }, Step::kHeaders},
        {"truncated DOS header", false, [](Bytes& b) { b.resize(63); }, Step::kHeaders},
        {"no MZ", false, [](Bytes& b) { b[0] = 'Z'; }, Step::kHeaders},
        {"e_lfanew past the end", false, [](Bytes& b) { Write32(b, 0x3C, 0x600); }, Step::kHeaders},
        {"e_lfanew near 4 GiB", true, [](Bytes& b) { Write32(b, 0x3C, 0xFFFFFFF0u); },
         Step::kHeaders},
        {"file ends inside the file header", false, [](Bytes& b) { b.resize(kPeAt + 20); },
         Step::kHeaders},
        {"bad signature", false, [](Bytes& b) { b[kPeAt + 3] = 'x'; }, Step::kHeaders},
        {"unknown magic", false, [](Bytes& b) { Write16(b, kOptionalAt, 0x107); }, Step::kHeaders},
        {"ROM magic", true, [](Bytes& b) { Write16(b, kOptionalAt, 0x107); }, Step::kHeaders},
        {"optional header shorter than its fixed part", true,
         [](Bytes& b) { Write16(b, kPeAt + 4 + 16, 111); }, Step::kHeaders},
        {"file ends inside the fixed part", false, [](Bytes& b) { b.resize(kOptionalAt + 95); },
         Step::kHeaders},
        {"optional header too short for the directory", false,
         [](Bytes& b) { Write16(b, kPeAt + 4 + 16, 96 + 2 * 8 + 7); }, Step::kDirectory},
        {"NumberOfRvaAndSizes too small", true, [](Bytes& b) { Write32(b, CountAt(true), 2); },
         Step::kDirectory},
        {"file ends inside the directory", false,
         [](Bytes& b) { b.resize(DirectoryAt(false, 2) + 7); }, Step::kDirectory},
        {"section table past the end", false, [](Bytes& b) { Write16(b, kPeAt + 4 + 2, 30); },
         Step::kSections},
        {"optional header size puts the table past the end", true,
         [](Bytes& b) { Write16(b, kPeAt + 4 + 16, 0xFFFF); }, Step::kSections},
    };
    for (const Malformed& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes image = Image(c.plus);
        c.spoil(image);
        StrictSource source(image);
        const auto headers = ReadPeHeaders(source);
        if (c.step == Step::kHeaders) {
            EXPECT_FALSE(headers);
            continue;
        }
        ASSERT_TRUE(headers);
        const auto directory = ReadDataDirectory(source, *headers, kPeResourceDirectory);
        if (c.step == Step::kDirectory) {
            EXPECT_FALSE(directory);
            continue;
        }
        EXPECT_TRUE(directory);
        EXPECT_FALSE(ReadSectionTable(source, *headers));
    }
}

TEST(PeSectionsTest, MapsAnRvaOnlyInsideTheFileBackedPartOfItsSection) {
    const Bytes image = Image(false);
    StrictSource source(image);
    const auto headers = ReadPeHeaders(source);
    ASSERT_TRUE(headers);
    const auto sections = ReadSectionTable(source, *headers);
    ASSERT_TRUE(sections);
    struct Case {
        const char* name;
        std::uint64_t rva;
        std::uint64_t count;
        std::uint64_t fileSize;
        std::optional<std::uint64_t> offset;
    };
    const Case cases[] = {
        {"start of .text", 0x1000, 4, 0x600, 0x400},
        {"last backed bytes of .text", 0x11FC, 4, 0x600, 0x5FC},
        {"crossing the end of the raw data", 0x11FE, 4, 0x600, std::nullopt},
        {"one byte past the raw data", 0x11FD, 4, 0x700, std::nullopt},
        {"virtual only part of .text", 0x1200, 1, 0x600, std::nullopt},
        {"VirtualSize 0 counts the raw size", 0x20FF, 1, 0x600, 0x2FF},
        {"past .rsrc", 0x2100, 1, 0x600, std::nullopt},
        {"before every section", 0x0FFF, 1, 0x600, std::nullopt},
        {"between the sections", 0x1800, 1, 0x600, std::nullopt},
        {"far beyond every section", 0xFFFFFFF0u, 4, 0x600, std::nullopt},
        {"raw data past the end of the file", 0x1100, 4, 0x500, std::nullopt},
        {"raw data that ends with the file", 0x10FC, 4, 0x500, 0x4FC},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(RvaToFileOffset(*sections, c.fileSize, c.rva, c.count), c.offset);
    }
}

TEST(PeSectionsTest, TheFirstSectionHoldingAnRvaDecides) {
    // Overlapping sections: the table's order counts, not the file's.
    const std::vector<PeSection> sections = {{0x1000, 0x100, 0x100, 0x300},
                                             {0x1000, 0x100, 0x100, 0x200}};
    EXPECT_EQ(RvaToFileOffset(sections, 0x600, 0x1010, 2), 0x310u);
    EXPECT_EQ(SectionsInFileOrder(sections)[0].rawPointer, 0x200u);
}

}  // namespace
}  // namespace tolvessa
