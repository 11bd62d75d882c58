#include "trust/certificate_table.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "tests/unit/strict_source.h"

namespace tolvessa {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kPeAt = 0x40;
constexpr std::uint32_t kOptionalAt = kPeAt + 4 + 20;

// A PE image of headers only: DOS header, signature, file header, optional header with 16 data
// directories, then `body` bytes. The certificate directory entry is left at 0.
Bytes Image(bool plus, std::size_t body = 0x100) {
    const std::uint16_t optionalSize = plus ? 240 : 224;
    Bytes b(kOptionalAt + optionalSize + body, 0);
    b[0] = 'M';
    b[1] = 'Z';
    Write32(b, 0x3C, kPeAt);
    b[kPeAt] = 'P';
    b[kPeAt + 1] = 'E';
    Write16(b, kPeAt + 4 + 16, optionalSize);
    Write16(b, kOptionalAt, plus ? 0x20B : 0x10B);
    Write32(b, kOptionalAt + (plus ? 108 : 92), 16);
    return b;
}

std::size_t DirectoryAt(bool plus) {
    return kOptionalAt + (plus ? 112 : 96) + 4 * 8;
}

struct EntrySpec {
    std::uint32_t length;        // dwLength as written
    std::uint32_t dataSize = 0;  // bytes written after the header (defaults to length - 8)
    std::uint16_t type = kCertificateTypePkcsSignedData;
};

// Appends a certificate table of these entries (each at an 8-byte boundary) and points the
// directory entry at it; `tableSize` overrides the size written into the directory.
Bytes WithTable(Bytes b, bool plus, const std::vector<EntrySpec>& entries,
                std::optional<std::uint32_t> tableSize = std::nullopt) {
    while (b.size() % 8)
        b.push_back(0);
    const std::uint32_t offset = static_cast<std::uint32_t>(b.size());
    for (const EntrySpec& e : entries) {
        const std::size_t at = b.size();
        b.resize(at + 8, 0);
        Write32(b, at, e.length);
        Write16(b, at + 4, kCertificateRevision2);
        Write16(b, at + 6, e.type);
        const std::uint32_t data = e.dataSize ? e.dataSize : (e.length >= 8 ? e.length - 8 : 0);
        for (std::uint32_t i = 0; i < data; ++i)
            b.push_back(static_cast<std::uint8_t>(0xA0 + i));
        while (b.size() % 8)
            b.push_back(0);
    }
    Write32(b, DirectoryAt(plus), offset);
    Write32(b, DirectoryAt(plus) + 4,
            tableSize.value_or(static_cast<std::uint32_t>(b.size() - offset)));
    return b;
}

using testing::StrictSource;

TEST(CertificateLayoutTest, FindsTheChecksumDirectoryEntryAndTableInBothForms) {
    for (const bool plus : {false, true}) {
        SCOPED_TRACE(plus ? "PE32+" : "PE32");
        const Bytes image = WithTable(Image(plus), plus, {{16}});
        StrictSource source(image);
        const auto layout = ReadCertificateLayout(source);
        ASSERT_TRUE(layout);
        EXPECT_EQ(layout->checksumOffset, kOptionalAt + 64);
        EXPECT_EQ(layout->directoryOffset, DirectoryAt(plus));
        EXPECT_EQ(layout->tableOffset, Read32(image, DirectoryAt(plus)));
        EXPECT_EQ(layout->tableSize, 16u);
        EXPECT_EQ(layout->tableOffset + layout->tableSize, image.size());
    }
}

TEST(CertificateLayoutTest, RefusesWhatIsNotAnImageWithACertificateDirectory) {
    struct Case {
        const char* name;
        std::function<void(Bytes&)> spoil;
    };
    const Case cases[] = {
        {"no MZ", [](Bytes& b) { b[1] = 'X'; }},
        {"PE header past the end", [](Bytes& b) { Write32(b, 0x3C, 0xFFFFFFF0u); }},
        {"wrong signature", [](Bytes& b) { b[kPeAt + 2] = 'x'; }},
        {"unknown magic", [](Bytes& b) { Write16(b, kOptionalAt, 0x107); }},
        {"optional header too short for entry 4",
         [](Bytes& b) { Write16(b, kPeAt + 4 + 16, 96 + 4 * 8 + 7); }},
        {"only four directories", [](Bytes& b) { Write32(b, kOptionalAt + 92, 4); }},
        {"file ends inside the directories", [](Bytes& b) { b.resize(DirectoryAt(false) + 4); }},
        {"empty file", [](Bytes& b) { b.clear(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes image = Image(false);
        c.spoil(image);
        StrictSource source(image);
        EXPECT_FALSE(ReadCertificateLayout(source));
    }
}

struct EntriesCase {
    const char* name;
    std::vector<EntrySpec> entries;
    std::optional<std::uint32_t> tableSize;
    std::optional<std::vector<std::uint32_t>> lengths;  // nothing: the table is malformed
};

// Test names carry the case; the parameter prints as its name too.
void PrintTo(const EntriesCase& c, std::ostream* os) {
    *os << c.name;
}

class CertificateEntriesTest : public ::testing::TestWithParam<EntriesCase> {};

TEST_P(CertificateEntriesTest, ReadsEveryEntryOrRefusesTheTable) {
    const EntriesCase& c = GetParam();
    for (const bool plus : {false, true}) {
        SCOPED_TRACE(plus ? "PE32+" : "PE32");
        const Bytes image = WithTable(Image(plus), plus, c.entries, c.tableSize);
        StrictSource source(image);
        const auto layout = ReadCertificateLayout(source);
        ASSERT_TRUE(layout);
        const auto entries = ReadCertificateEntries(source, *layout);
        ASSERT_EQ(entries.has_value(), c.lengths.has_value());
        if (!entries)
            continue;
        std::vector<std::uint32_t> lengths;
        std::uint64_t expectedOffset = layout->tableOffset;
        for (const CertificateEntry& e : *entries) {
            lengths.push_back(e.length);
            EXPECT_EQ(e.offset, expectedOffset);
            EXPECT_EQ(e.offset % 8, 0u);
            EXPECT_EQ(e.revision, kCertificateRevision2);
            expectedOffset += (e.length + 7u) & ~7u;
        }
        EXPECT_EQ(lengths, *c.lengths);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Tables, CertificateEntriesTest,
    ::testing::Values(
        EntriesCase{"NoTable", {}, 0u, std::vector<std::uint32_t>{}},
        EntriesCase{"OneEntry", {{40}}, std::nullopt, std::vector<std::uint32_t>{40}},
        EntriesCase{"TwoEntriesUnalignedLength",
                    {{13}, {24}},
                    std::nullopt,
                    std::vector<std::uint32_t>{13, 24}},
        EntriesCase{"HeaderOnlyEntry", {{8}}, std::nullopt, std::vector<std::uint32_t>{8}},
        EntriesCase{"LengthShorterThanHeader", {{4, 8}}, std::nullopt, std::nullopt},
        EntriesCase{"LengthZero", {{0, 8}}, std::nullopt, std::nullopt},
        EntriesCase{"LengthPastTheTableAndFile", {{64, 8}}, std::nullopt, std::nullopt},
        EntriesCase{"SecondEntryPastTheEnd", {{16}, {0x7FFFFFF0u, 8}}, std::nullopt, std::nullopt},
        EntriesCase{"TablePastTheEndOfTheFile", {{16}}, 0x1000u, std::nullopt},
        EntriesCase{"TableEndsInsideAHeader", {{16}, {16}}, 20u, std::nullopt}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST(CertificateEntriesTest, RefusesATableAtOffsetZeroOrWithAHugeOffset) {
    for (const std::uint32_t offset : {0u, 0xFFFFFFF8u}) {
        Bytes image = WithTable(Image(false), false, {{16}});
        Write32(image, DirectoryAt(false), offset);
        StrictSource source(image);
        const auto layout = ReadCertificateLayout(source);
        ASSERT_TRUE(layout);
        EXPECT_FALSE(ReadCertificateEntries(source, *layout)) << offset;
    }
}

TEST(CertificateEntryFitsTest, WantsTheHeaderAndNoByteBeyondTheFile) {
    const Bytes file(100, 0);
    MemorySource source(file);
    EXPECT_TRUE(CertificateEntryFits(source, 60, 40));
    EXPECT_TRUE(CertificateEntryFits(source, 92, 8));
    EXPECT_FALSE(CertificateEntryFits(source, 60, 41));
    EXPECT_FALSE(CertificateEntryFits(source, 60, 7));
    EXPECT_FALSE(CertificateEntryFits(source, 60, 0));
    EXPECT_FALSE(CertificateEntryFits(source, 101, 8));
    EXPECT_FALSE(CertificateEntryFits(source, 96, 0xFFFFFFFFu));
}

}  // namespace
}  // namespace tolvessa
