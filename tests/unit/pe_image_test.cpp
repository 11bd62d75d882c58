#include "inventory/pe_image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>
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

// ---- PeImage ----

void SetName(Bytes& b, std::uint32_t at, std::string_view name) {
    std::copy(name.begin(), name.end(), b.begin() + at);
}

TEST(PeImageTest, HoldsTheHeadersDirectoriesAndSectionsOfBothForms) {
    for (const bool plus : {false, true}) {
        SCOPED_TRACE(plus ? "PE32+" : "PE32");
        Bytes image = Image(plus);
        Write32(image, kPeAt + 4 + 4, 0x5F3759DF);  // TimeDateStamp
        Write16(image, kPeAt + 4 + 18, 0x2022);     // Characteristics
        Write32(image, kOptionalAt + 32, 0x1000);   // SectionAlignment
        Write32(image, kOptionalAt + 36, 0x200);    // FileAlignment
        Write32(image, kOptionalAt + 56, 0x3000);   // SizeOfImage
        Write16(image, kOptionalAt + 70, 0x0160);   // DllCharacteristics
        Write16(image, kOptionalAt + 68, 0xFFFF);   // Subsystem beside it: not read into it
        Write32(image, DirectoryAt(plus, 12), 0x1008);
        Write32(image, DirectoryAt(plus, 12) + 4, 0x18);
        const std::uint32_t table = SectionTableAt(plus);
        SetName(image, table, ".text");
        Write32(image, table + 36, 0x60000020);
        SetName(image, table + 40, "12345678");
        Write32(image, table + 40 + 36, 0xC0000040);
        StrictSource source(image);

        const auto pe = PeImage::Parse(source);
        ASSERT_TRUE(pe);
        EXPECT_EQ(pe->FileSize(), 0x600u);
        EXPECT_EQ(pe->Machine(), plus ? 0x8664 : 0x14C);
        EXPECT_EQ(pe->TimeDateStamp(), 0x5F3759DFu);
        EXPECT_EQ(pe->Characteristics(), 0x2022);
        EXPECT_EQ(pe->Magic(), plus ? kPe32PlusMagic : kPe32Magic);
        EXPECT_EQ(pe->IsPe32Plus(), plus);
        EXPECT_EQ(pe->SectionAlignment(), 0x1000u);
        EXPECT_EQ(pe->FileAlignment(), 0x200u);
        EXPECT_EQ(pe->SizeOfImage(), 0x3000u);
        EXPECT_EQ(pe->SizeOfHeaders(), 0x200u);
        EXPECT_EQ(pe->ChecksumOffset(), kOptionalAt + 64);
        EXPECT_EQ(pe->DllCharacteristics(), 0x0160);

        const auto certificates = pe->CertificateTable();
        ASSERT_TRUE(certificates);
        EXPECT_EQ(certificates->virtualAddress, 0x5F0u);
        EXPECT_EQ(certificates->size, 0x10u);
        EXPECT_EQ(certificates->entryOffset, DirectoryAt(plus, 4));
        const auto iat = pe->ImportAddressTable();
        ASSERT_TRUE(iat);
        EXPECT_EQ(iat->virtualAddress, 0x1008u);
        EXPECT_EQ(iat->size, 0x18u);
        EXPECT_TRUE(pe->Directory(15));
        EXPECT_FALSE(pe->Directory(16));

        ASSERT_TRUE(pe->SectionTableInFile());
        const auto sections = pe->Sections();
        ASSERT_EQ(sections.size(), 2u);
        EXPECT_EQ(sections[0].virtualAddress, 0x1000u);
        EXPECT_EQ(sections[0].virtualSize, 0x300u);
        EXPECT_EQ(sections[0].rawSize, 0x200u);
        EXPECT_EQ(sections[0].rawPointer, 0x400u);
        EXPECT_EQ(sections[0].characteristics, 0x60000020u);
        EXPECT_EQ(sections[0].name, (std::array<std::uint8_t, 8>{'.', 't', 'e', 'x', 't'}));
        EXPECT_EQ(sections[1].rawPointer, 0x200u);
        EXPECT_EQ(sections[1].name,
                  (std::array<std::uint8_t, 8>{'1', '2', '3', '4', '5', '6', '7', '8'}));
        EXPECT_EQ(pe->FileOffset(0x20FF, 1), 0x2FFu);
        EXPECT_FALSE(pe->FileOffset(0x1200, 1));
        EXPECT_TRUE(pe->DebugEntries().empty());
        EXPECT_FALSE(pe->DebugDirectoryDamaged());
    }
}

TEST(PeImageTest, SectionCharacteristicsTellWritableAndExecutable) {
    struct Case {
        std::uint32_t characteristics;
        bool writable;
        bool executable;
    };
    const Case cases[] = {
        {0x60000020, false, true},  // code, execute, read
        {0xC0000040, true, false},  // initialised data, read, write
        {0xE0000020, true, true},   // all three
        {0x40000040, false, false}, {0x00000000, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.characteristics);
        Bytes image = Image(false);
        Write32(image, SectionTableAt(false) + 36, c.characteristics);
        StrictSource source(image);
        const auto pe = PeImage::Parse(source);
        ASSERT_TRUE(pe);
        EXPECT_EQ(pe->Sections()[0].IsWritable(), c.writable);
        EXPECT_EQ(pe->Sections()[0].IsExecutable(), c.executable);
    }
}

// An image is refused only for its headers; past them each reader decides for itself, so the
// certificate table of an image whose section table is cut still has its place.
TEST(PeImageTest, RefusesOnlyWhatTheHeaderReaderRefuses) {
    struct Case {
        const char* name;
        bool plus;
        std::function<void(Bytes&)> spoil;
        bool parses;
        bool sectionTable;
        bool resourceDirectory;
    };
    const Case cases[] = {
        {"empty file", false, [](Bytes& b) { b.clear(); }, false, false, false},
        {"no MZ", false, [](Bytes& b) { b[1] = 'X'; }, false, false, false},
        {"e_lfanew past the end", true, [](Bytes& b) { Write32(b, 0x3C, 0x5FE); }, false, false,
         false},
        {"bad signature", false, [](Bytes& b) { b[kPeAt + 2] = 1; }, false, false, false},
        {"PE32 magic with a PE32+ header size too short for it", false,
         [](Bytes& b) { Write16(b, kPeAt + 4 + 16, 95); }, false, false, false},
        {"unknown magic", true, [](Bytes& b) { Write16(b, kOptionalAt, 0x10C); }, false, false,
         false},
        {"file ends inside the fixed part", true, [](Bytes& b) { b.resize(kOptionalAt + 111); },
         false, false, false},
        {"sound", true, [](Bytes&) {}, true, true, true},
        {"section table past the end", false, [](Bytes& b) { Write16(b, kPeAt + 4 + 2, 30); }, true,
         false, true},
        {"NumberOfRvaAndSizes leaves directory 2 out", false,
         [](Bytes& b) { Write32(b, CountAt(false), 2); }, true, true, false},
        {"file ends inside directory 2", true, [](Bytes& b) { b.resize(DirectoryAt(true, 2) + 7); },
         true, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes image = Image(c.plus);
        c.spoil(image);
        StrictSource source(image);
        const auto pe = PeImage::Parse(source);
        ASSERT_EQ(pe.has_value(), c.parses);
        if (!pe)
            continue;
        EXPECT_EQ(pe->SectionTableInFile(), c.sectionTable);
        EXPECT_EQ(pe->Sections().size(), c.sectionTable ? 2u : 0u);
        EXPECT_EQ(pe->Directory(kPeResourceDirectory).has_value(), c.resourceDirectory);
        EXPECT_TRUE(pe->Directory(1));
        if (!c.sectionTable) {
            EXPECT_FALSE(pe->HashPlan());
        }
    }
}

// The directories read at once are those the entry reader gives one by one, wherever the count,
// the optional header or the file ends them.
TEST(PeImageTest, DirectoriesAreThoseTheEntryReaderGives) {
    for (const bool plus : {false, true}) {
        for (const std::uint32_t count : {0u, 3u, 16u, 17u, 0xFFFFFFFFu}) {
            for (const std::uint32_t optionalSize :
                 {OptionalSize(plus) - 128u, OptionalSize(plus) - 9u,
                  std::uint32_t{OptionalSize(plus)}, 0x400u}) {
                for (const std::uint32_t cut : {DirectoryAt(plus, 0) + 3, DirectoryAt(plus, 5) + 4,
                                                DirectoryAt(plus, 16), 0x600u}) {
                    SCOPED_TRACE(::testing::Message() << plus << " count " << count << " size "
                                                      << optionalSize << " cut " << cut);
                    Bytes image = Image(plus);
                    for (std::uint32_t i = 0; i < 16; ++i)
                        Write32(image, DirectoryAt(plus, i), 0x100 + i);
                    Write32(image, CountAt(plus), count);
                    Write16(image, kPeAt + 4 + 16, static_cast<std::uint16_t>(optionalSize));
                    image.resize(cut);
                    StrictSource source(image);
                    const auto headers = ReadPeHeaders(source);
                    const auto pe = PeImage::Parse(source);
                    ASSERT_EQ(pe.has_value(), headers.has_value());
                    if (!pe)
                        continue;
                    for (std::uint32_t i = 0; i < kPeDirectoryLimit; ++i) {
                        const auto expected = ReadDataDirectory(source, *headers, i);
                        const auto actual = pe->Directory(i);
                        ASSERT_EQ(actual.has_value(), expected.has_value()) << i;
                        if (actual) {
                            EXPECT_EQ(actual->virtualAddress, expected->virtualAddress);
                            EXPECT_EQ(actual->size, expected->size);
                            EXPECT_EQ(actual->entryOffset, expected->entryOffset);
                        }
                    }
                    EXPECT_FALSE(pe->Directory(kPeDirectoryLimit));
                }
            }
        }
    }
}

// A debug directory of `count` entries at RVA 0x1100 (file 0x500) in .text.
void SetDebugDirectory(Bytes& b, bool plus, std::uint32_t rva, std::uint32_t size) {
    Write32(b, DirectoryAt(plus, kPeDebugDirectory), rva);
    Write32(b, DirectoryAt(plus, kPeDebugDirectory) + 4, size);
}

void WriteDebugEntry(Bytes& b, std::uint32_t at, std::uint32_t type, std::uint32_t stamp,
                     std::uint32_t size, std::uint32_t rva, std::uint32_t pointer) {
    Write32(b, at + 4, stamp);
    Write32(b, at + 12, type);
    Write32(b, at + 16, size);
    Write32(b, at + 20, rva);
    Write32(b, at + 24, pointer);
}

TEST(PeImageTest, ReadsTheDebugDirectoryEntries) {
    for (const bool plus : {false, true}) {
        SCOPED_TRACE(plus ? "PE32+" : "PE32");
        Bytes image = Image(plus);
        SetDebugDirectory(image, plus, 0x1100, 3 * kPeDebugEntrySize);
        WriteDebugEntry(image, 0x500, kPeDebugCodeView, 0x11111111, 0x20, 0x1180, 0x580);
        WriteDebugEntry(image, 0x500 + 28, kPeDebugRepro, 0x22222222, 0x24, 0x11A0, 0x5A0);
        // Its data would run past the end of the file: the entry stays, its data has no place.
        WriteDebugEntry(image, 0x500 + 56, 13, 0x33333333, 0x11, 0, 0x5F0);
        StrictSource source(image);
        const auto pe = PeImage::Parse(source);
        ASSERT_TRUE(pe);
        EXPECT_FALSE(pe->DebugDirectoryDamaged());
        const auto entries = pe->DebugEntries();
        ASSERT_EQ(entries.size(), 3u);
        EXPECT_EQ(entries[0].type, kPeDebugCodeView);
        EXPECT_EQ(entries[0].timeDateStamp, 0x11111111u);
        EXPECT_EQ(entries[0].dataSize, 0x20u);
        EXPECT_EQ(entries[0].dataRva, 0x1180u);
        EXPECT_EQ(entries[0].dataPointer, 0x580u);
        EXPECT_EQ(entries[0].entryOffset, 0x500u);
        EXPECT_EQ(entries[0].dataOffset, 0x580u);
        EXPECT_EQ(entries[1].type, kPeDebugRepro);
        EXPECT_EQ(entries[1].timeDateStamp, 0x22222222u);
        EXPECT_EQ(entries[1].entryOffset, 0x500u + 28);
        EXPECT_EQ(entries[1].dataOffset, 0x5A0u);
        EXPECT_EQ(entries[2].type, 13u);
        EXPECT_EQ(entries[2].dataPointer, 0x5F0u);
        EXPECT_EQ(entries[2].dataOffset, std::nullopt);
    }
}

TEST(PeImageTest, ADamagedDebugDirectoryHasNoEntries) {
    struct Case {
        const char* name;
        std::uint32_t rva;
        std::uint32_t size;
        bool damaged;
    };
    // .text is backed by the file from 0x1000 to 0x1200; here it is widened to 0x2000 raw bytes.
    const Case cases[] = {
        {"none", 0, 0, false},
        {"no address", 0, 28, false},
        {"no size", 0x1100, 0, false},
        {"shorter than an entry", 0x1100, 27, true},
        {"a size that is no multiple of an entry: the whole ones", 0x1100, 2 * 28 + 5, false},
        {"outside every section", 0x8000, 28, true},
        {"in the part of .text not in the file", 0x3000 - 14, 28, true},
        {"the most entries an image has", 0x1000, 256 * 28, false},
        {"more than any image has", 0x1000, 257 * 28, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes image = Image(true);
        const std::uint32_t text = SectionTableAt(true);
        Write32(image, text + 8, 0x2000);   // VirtualSize
        Write32(image, text + 16, 0x2000);  // SizeOfRawData
        image.resize(0x400 + 0x2000);
        Write32(image, DirectoryAt(true, 4), 0);
        Write32(image, DirectoryAt(true, 4) + 4, 0);
        SetDebugDirectory(image, true, c.rva, c.size);
        StrictSource source(image);
        const auto pe = PeImage::Parse(source);
        ASSERT_TRUE(pe);
        EXPECT_EQ(pe->DebugDirectoryDamaged(), c.damaged);
        EXPECT_EQ(pe->DebugEntries().size(), c.damaged || c.rva == 0 ? 0 : c.size / 28);
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
