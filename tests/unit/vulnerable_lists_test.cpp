// The vulnerable-driver lists: the LOLDrivers CSV and the SiPolicy block rules read from the
// fixtures (and variants made from them here), and files matched against them.
#include "trust/vulnerable_lists.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/unit/list_fixtures.h"

namespace tolvessa {
namespace {

using testing::Bytes;
using testing::BytesOf;
using testing::ReadListFixture;
using testing::Replaced;
using testing::ToUtf16;

// The values the fixtures hold (drivers.csv rows A, B, D, F; sipolicy.xml's hash rules).
constexpr std::string_view kIdA = "3f1c2a9e-7b4d-4c1e-9a55-0d2b8e6f1a01";
constexpr std::string_view kIdB = "8d0e4b17-2c6a-4f39-b1de-5a7c9e3f2b02";
constexpr std::string_view kIdD = "5b2f9c3d-4e8a-41b7-8c26-f3e1d0a9b704";
constexpr std::string_view kIdE = "1e6a7f20-93bd-4d05-a8c1-6b2e4f7d9c05";
constexpr std::string_view kIdF = "9a7d3b61-05fc-4a2e-9d48-c7b1e2f6a306";
constexpr std::string_view kMd5A = "da8f7315e7708a77a39f755ddd4abb53";
constexpr std::string_view kSha1A = "90acf7da7443ae78a915f2463508b09ec43bbab8";
constexpr std::string_view kSha256A1 =
    "5f6560365c0248fb638df7a2cf0dbca599fa6b279aacb02df8cf185b9a369600";
constexpr std::string_view kSha256A2 =
    "702bf66ded47b1c82eb50f65c0f6c2b021f0b2fd5c0bbd0b65bcd294b434e994";
constexpr std::string_view kImageMd5A = "efbb415378eec67ba796047471a13d3f";
constexpr std::string_view kImageSha256A =
    "c478886193c62e38c6f178f2a0d41817529c062deb6aa859825a4bca84c58b52";
constexpr std::string_view kSha1B1 = "e3477d6ec9f852df6f7f32ff91ea425ff62a8a11";
constexpr std::string_view kSha1B2 = "7d5c40815f25449c41e5a3ac5bf0237845625c72";
constexpr std::string_view kSha256B =
    "0837e6d7b51afaeb5142ace74abb4a8c84d7cdb7fe09be301d66cb0d3873a211";
constexpr std::string_view kImageSha1B = "76455afcaa8a4c945c979b2e6986de0133f1134f";
constexpr std::string_view kSha256D =
    "a9f58855050daf05de5d49316fe042860d653dcfc4f12f0627a14eaa23495627";
constexpr std::string_view kMd5Broken = "66e7c8092558de31c7cdf2cf710fc568";  // the skipped row's
constexpr std::string_view kSha256F =
    "4b92cb3780a8cd3fbf6a0009efd4f3db66ed4bd4ea4d8606f74b46ee1e1e4415";
constexpr std::string_view kImageSha1G = "90398501F9112C99D76186D35F650A7868EC939B";
constexpr std::string_view kPageSha1G = "2CFE00B4D3F74B2026682D923B3C3C001DF2B017";
constexpr std::string_view kImageSha256H =
    "FA456270EDAAAA4988E0258C3FB294DFBBBCCFADE2FB69BB1DD0EA1F4DA3CD9F";

std::string Upper(std::string_view hex) {
    std::string out(hex);
    for (char& c : out)
        c = static_cast<char>(c >= 'a' && c <= 'f' ? c - 'a' + 'A' : c);
    return out;
}

Text T(std::string_view ascii) {
    return AsciiText(ascii);
}

std::vector<std::string> Strings(std::initializer_list<std::string_view> values) {
    return std::vector<std::string>(values.begin(), values.end());
}

// ---- The CSV list ----

TEST(LolDriversCsvTest, ReadsTheFixtureByColumnName) {
    const LolDriversRead read = ReadLolDriversCsv(ReadListFixture("drivers.csv"));
    ASSERT_EQ(read.error, u"");
    EXPECT_EQ(read.rows, 6u);
    EXPECT_EQ(read.skippedRows, 1u);    // the row a cell short
    EXPECT_EQ(read.ignoredHashes, 2u);  // row D: 63 digits, and a SHA-1 in the SHA-256 column
    ASSERT_EQ(read.entries.size(), 5u);

    const LolDriversEntry& a = read.entries[0];
    EXPECT_EQ(a.id, T(kIdA));
    EXPECT_EQ(a.category, u"vulnerable driver");
    EXPECT_EQ(a.md5, Strings({kMd5A}));
    EXPECT_EQ(a.sha1, Strings({kSha1A}));
    EXPECT_EQ(a.sha256, Strings({kSha256A1, kSha256A2}));  // "x, y" in one cell
    EXPECT_EQ(a.imageMd5, Strings({kImageMd5A}));
    EXPECT_TRUE(a.imageSha1.empty());
    EXPECT_EQ(a.imageSha256, Strings({kImageSha256A}));

    const LolDriversEntry& b = read.entries[1];
    EXPECT_EQ(b.id, T(kIdB));
    EXPECT_EQ(b.category, u"malicious");
    EXPECT_TRUE(b.md5.empty());
    EXPECT_EQ(b.sha1, Strings({kSha1B1, kSha1B2}));
    EXPECT_EQ(b.sha256, Strings({kSha256B}));
    EXPECT_EQ(b.imageSha1, Strings({kImageSha1B}));

    EXPECT_EQ(read.entries[2].id, T(kIdD));
    EXPECT_EQ(read.entries[2].sha256, Strings({kSha256D}));
    EXPECT_EQ(read.entries[3].id, T(kIdE));  // every hash cell empty: an entry all the same
    EXPECT_TRUE(read.entries[3].sha256.empty());
    EXPECT_EQ(read.entries[4].id, T(kIdF));
    EXPECT_EQ(read.entries[4].sha256, Strings({kSha256F}));  // upper case in the list
}

// The same list with a byte-order mark, LF line ends, a final line end, its columns in another
// order: each reads exactly as the fixture.
TEST(LolDriversCsvTest, ToleratedVariantsReadTheSame) {
    const Bytes fixture = ReadListFixture("drivers.csv");
    const LolDriversRead expected = ReadLolDriversCsv(fixture);

    // The fixture with its first two columns swapped in every row (no cell holds a separator
    // before the third column).
    const auto swapFirstColumns = [](const Bytes& bytes) {
        std::string text(bytes.begin(), bytes.end());
        std::string out;
        std::size_t lineStart = 0;
        while (lineStart < text.size()) {
            std::size_t lineEnd = text.find("\r\n", lineStart);
            if (lineEnd == std::string::npos)
                lineEnd = text.size();
            std::string line = text.substr(lineStart, lineEnd - lineStart);
            const std::size_t first = line.find("\",\"");
            const std::size_t second = line.find("\",\"", first + 3);
            if (line.starts_with("\"") && first != std::string::npos &&
                second != std::string::npos) {
                line = line.substr(first + 2, second - first - 1) + "," +
                       line.substr(0, first + 1) + line.substr(second + 1);
            }
            out += line + (lineEnd < text.size() ? "\r\n" : "");
            lineStart = lineEnd + 2;
        }
        return BytesOf(out);
    };
    struct Case {
        const char* name;
        Bytes bytes;
    };
    Bytes withMark = {0xEF, 0xBB, 0xBF};
    withMark.insert(withMark.end(), fixture.begin(), fixture.end());
    Bytes withFinalLineEnd = fixture;
    withFinalLineEnd.insert(withFinalLineEnd.end(), {'\r', '\n', '\r', '\n'});
    const Case cases[] = {
        {"byte_order_mark", withMark},
        {"lf_line_ends", Replaced(fixture, "\r\n", "\n")},
        {"final_line_end_and_a_blank_line", withFinalLineEnd},
        {"columns_in_another_order", swapFirstColumns(fixture)},
    };
    for (const Case& c : cases) {
        const LolDriversRead read = ReadLolDriversCsv(c.bytes);
        EXPECT_EQ(read.error, u"") << c.name;
        EXPECT_EQ(read.entries, expected.entries) << c.name;
        EXPECT_EQ(read.rows, expected.rows) << c.name;
        EXPECT_EQ(read.skippedRows, expected.skippedRows) << c.name;
        EXPECT_EQ(read.ignoredHashes, expected.ignoredHashes) << c.name;
    }
}

constexpr std::string_view kShortHeader =
    "Id,Category,KnownVulnerableSamples_MD5,KnownVulnerableSamples_SHA1,"
    "KnownVulnerableSamples_SHA256,KnownVulnerableSamples_Authentihash_SHA1,"
    "KnownVulnerableSamples_Authentihash_SHA256,Tags\r\n";

// Rows after kShortHeader (eight columns, none of them the image MD5): which are kept, which
// skipped, which values ignored.
TEST(LolDriversCsvTest, RowsAndValuesTable) {
    const std::string md5 = std::string(kMd5A);
    struct Case {
        const char* name;
        std::string rows;
        std::vector<std::string> keptIds;
        std::size_t skipped;
        std::size_t ignored;
    };
    const Case cases[] = {
        {"plain_unquoted", "x1,vulnerable driver," + md5 + ",,,,,a.sys\r\n", {"x1"}, 0, 0},
        {"quote_inside_unquoted_cell", "x1,say \"hi\" there," + md5 + ",,,,,a.sys\n", {"x1"}, 0, 0},
        {"quoted_with_doubled_quotes_and_line_break",
         "\"x1\",\"a \"\"b\"\"\r\nc\"," + md5 + ",,,,,\"a.sys\"",
         {"x1"},
         0,
         0},
        {"one_cell_too_many", "x1,c," + md5 + ",,,,,a.sys,extra\r\nx2,c,,,,,,\r\n", {"x2"}, 1, 0},
        {"one_cell_short", "x1,c," + md5 + ",,,,\r\nx2,c,,,,,,\r\n", {"x2"}, 1, 0},
        {"text_after_closing_quote", "\"x1\"junk,c,,,,,,\r\nx2,c,,,,,,\r\n", {"x2"}, 1, 0},
        {"empty_id",
         "\"\",c," + md5 + ",,,,,\r\n  ,c,,,,,,\r\n\"\x01\t\",c,,,,,,\r\nx2,c,,,,,,\r\n",
         {"x2"},
         3,
         0},
        {"blank_lines_are_no_rows", "\r\n\r\nx1,c,,,,,,\r\n\n\nx2,c,,,,,,", {"x1", "x2"}, 0, 0},
        {"separator_at_the_very_end", "x1,c,,,,,,", {"x1"}, 0, 0},
        {"wrong_lengths_and_non_hex",
         "x1,c,\"" + md5 + "0, " + md5.substr(1) + ", zz" + md5.substr(2) + ", " + md5 +
             "\",,,,,\r\n",
         {"x1"},
         0,
         3},
        {"empty_values_between_separators", "x1,c,\", ," + md5 + ",,\",,,,,\r\n", {"x1"}, 0, 0},
    };
    for (const Case& c : cases) {
        const LolDriversRead read = ReadLolDriversCsv(BytesOf(std::string(kShortHeader) + c.rows));
        EXPECT_EQ(read.error, u"") << c.name;
        std::vector<std::string> ids;
        for (const LolDriversEntry& entry : read.entries)
            ids.push_back(TextToUtf8(entry.id));
        EXPECT_EQ(ids, c.keptIds) << c.name;
        EXPECT_EQ(read.skippedRows, c.skipped) << c.name;
        EXPECT_EQ(read.ignoredHashes, c.ignored) << c.name;
        EXPECT_EQ(read.rows, c.keptIds.size() + c.skipped) << c.name;
    }
}

// A quote that is never closed runs to the end of the data: the list was cut short there. The rows
// before the one it opens are read; that one is no row; the list says where it ends.
TEST(LolDriversCsvTest, AListEndingInsideAQuotedCellWasCutShort) {
    const std::string md5 = std::string(kMd5A);
    struct Case {
        const char* name;
        std::string rows;
        std::vector<std::string> keptIds;
        std::size_t skipped;
        std::u16string_view cutAt;
    };
    const Case cases[] = {
        {"cut_in_the_first_cell",
         "x1,c,,,,,,\r\nx2,c,,,,,,\r\n\"x3",
         {"x1", "x2"},
         0,
         u"inside a quoted cell opened on line 4, column 1"},
        {"cut_in_a_hash_cell",
         "x1,c,,,,,,\r\nx2,c,\"" + md5.substr(0, 10),
         {"x1"},
         0,
         u"inside a quoted cell opened on line 3, column 6"},
        {"cut_in_a_cell_over_lines",
         "x1,c,,,,,,\nx2,\"a\nb\nc",
         {"x1"},
         0,
         u"inside a quoted cell opened on line 3, column 4"},
        {"stray_quote_runs_to_the_end",
         "x2,c,,,,,,\r\n\"x1,c,,,,,,\r\nx3,c,,,,,,\r\n",
         {"x2"},
         0,
         u"inside a quoted cell opened on line 3, column 1"},
        {"a_skipped_row_before_the_cut",
         "x1,c,,\r\nx2,c,,,,,,\r\nx3,\"",
         {"x2"},
         1,
         u"inside a quoted cell opened on line 4, column 4"},
        {"closed_quote_at_the_very_end_is_whole", "x1,c,,,,,,\"x\"", {"x1"}, 0, u""},
        {"no_line_end_after_the_last_row_is_whole", "x1,c,,,,,,", {"x1"}, 0, u""},
    };
    for (const Case& c : cases) {
        const LolDriversRead read = ReadLolDriversCsv(BytesOf(std::string(kShortHeader) + c.rows));
        EXPECT_EQ(read.error, u"") << c.name;
        std::vector<std::string> ids;
        for (const LolDriversEntry& entry : read.entries)
            ids.push_back(TextToUtf8(entry.id));
        EXPECT_EQ(ids, c.keptIds) << c.name;
        EXPECT_EQ(read.skippedRows, c.skipped) << c.name;
        EXPECT_EQ(read.rows, c.keptIds.size() + c.skipped) << c.name;
        EXPECT_EQ(read.cutAt, c.cutAt) << c.name;
    }
}

TEST(LolDriversCsvTest, HashValuesAreLowerCasedAndKeptOnce) {
    const std::string rows = "x1,c,\"" + Upper(kMd5A) + ", " + std::string(kMd5A) + "\",,,,,\r\n";
    const LolDriversRead read = ReadLolDriversCsv(BytesOf(std::string(kShortHeader) + rows));
    ASSERT_EQ(read.entries.size(), 1u);
    EXPECT_EQ(read.entries[0].md5, Strings({kMd5A}));
    EXPECT_EQ(read.entries[0].category, u"c");
}

TEST(LolDriversCsvTest, NoListWithoutItsColumns) {
    struct Case {
        const char* name;
        std::string text;
        std::u16string_view error;
    };
    const Case cases[] = {
        {"empty", "", u"the list is empty: no header row"},
        {"only_a_byte_order_mark", "\xEF\xBB\xBF\r\n", u"the list is empty: no header row"},
        {"no_id",
         "Category,KnownVulnerableSamples_MD5,KnownVulnerableSamples_SHA1,"
         "KnownVulnerableSamples_SHA256,KnownVulnerableSamples_Authentihash_SHA1,"
         "KnownVulnerableSamples_Authentihash_SHA256\r\nc,,,,,\r\n",
         u"not a LOLDrivers list: the header has no column Id"},
        {"another_csv", "Name,Path,Size\r\na,b,1\r\n",
         u"not a LOLDrivers list: the header has no column Id, Category, "
         u"KnownVulnerableSamples_MD5, KnownVulnerableSamples_SHA1, KnownVulnerableSamples_SHA256, "
         u"KnownVulnerableSamples_Authentihash_SHA1, KnownVulnerableSamples_Authentihash_SHA256"},
        {"names_differ_in_case",
         "id,category,KnownVulnerableSamples_MD5,"
         "KnownVulnerableSamples_SHA1,KnownVulnerableSamples_SHA256,"
         "KnownVulnerableSamples_Authentihash_SHA1,"
         "KnownVulnerableSamples_Authentihash_SHA256\r\n",
         u"the header has no column Id, Category"},
        {"header_quote_not_closed", "\"Id,Category\r\n", u"the header row has a quote"},
        {"an_xml_document", "<?xml version=\"1.0\"?><SiPolicy/>", u"the header has no column Id"},
    };
    for (const Case& c : cases) {
        const LolDriversRead read = ReadLolDriversCsv(BytesOf(c.text));
        EXPECT_NE(read.error.find(c.error), Text::npos) << c.name << ": " << TextToUtf8(read.error);
        EXPECT_TRUE(read.entries.empty()) << c.name;
    }
}

// ---- Versions ----

TEST(FileVersionTest, LeadingNumbersOfTheVersionString) {
    using V = FileVersionNumber;
    struct Case {
        std::u16string_view text;
        std::optional<V> expected;
    };
    const Case cases[] = {
        {u"10.0.19041.1", V{{10, 0, 19041, 1}}},
        {u"10.0.19041.1 (WinBuild.160101.0800)", V{{10, 0, 19041, 1}}},
        {u"1, 0, 0, 1", V{{1, 0, 0, 1}}},
        {u"  2.5", V{{2, 5, 0, 0}}},
        {u"7", V{{7, 0, 0, 0}}},
        {u"1.2.3.4.5", V{{1, 2, 3, 4}}},
        {u"3.1.", V{{3, 1, 0, 0}}},
        {u"3.1 .x", V{{3, 1, 0, 0}}},
        {u"65535.65535.65535.65535", V{{65535, 65535, 65535, 65535}}},
        {u"65536.0", std::nullopt},
        {u"1.99999999999", std::nullopt},
        {u"v1.2", std::nullopt},
        {u"", std::nullopt},
        {u".1", std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ParseFileVersion(c.text), c.expected) << TextToUtf8(c.text);
    EXPECT_LT((V{{2, 5, 0, 11}}), (V{{2, 5, 0, 12}}));
    EXPECT_LT((V{{2, 4, 9, 9}}), (V{{2, 5, 0, 0}}));
}

// ---- The policy ----

constexpr FileVersionNumber kHighest{{0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF}};

// An image-hash rule, its algorithm by the hash's length.
BlockRule HashRule(TextView id, std::string_view hash) {
    BlockRule rule;
    rule.id = Text(id);
    rule.kind = BlockRule::Kind::kImageHash;
    rule.algorithm = hash.size() == 64 ? HashAlgorithm::kSha256 : HashAlgorithm::kSha1;
    rule.hash = std::string(hash);
    return rule;
}

BlockRule NameRule(TextView id, TextView name, FileVersionNumber lowest, FileVersionNumber highest,
                   RuleNameAttribute attribute = RuleNameAttribute::kOriginalFilename) {
    BlockRule rule;
    rule.id = Text(id);
    rule.kind = BlockRule::Kind::kNameAndVersion;
    rule.nameAttribute = attribute;
    rule.name = Text(name);
    rule.lowestVersion = lowest;
    rule.highestVersion = highest;
    return rule;
}

TEST(SiPolicyTest, ReadsTheDenyRulesOfTheFixture) {
    const SiPolicyRead read = ReadSiPolicy(ReadListFixture("sipolicy.xml"));
    ASSERT_EQ(read.error, u"");
    const std::vector<BlockRule> expected = {
        HashRule(u"ID_DENY_FIXPAGES_SHA1", "90398501f9112c99d76186d35f650a7868ec939b"),
        HashRule(u"ID_DENY_FIXPAGES_SHA1_PAGE", "2cfe00b4d3f74b2026682d923b3c3c001df2b017"),
        HashRule(u"ID_DENY_FIXVULN_SHA256", kImageSha256A),
        HashRule(u"ID_DENY_FIXNEW_SHA256",
                 "fa456270edaaaa4988e0258c3fb294dfbbbccfade2fb69bb1dd0ea1f4da3cd9f"),
        NameRule(u"ID_DENY_OLDIO", u"OldIo.sys", {}, {{2, 5, 0, 11}}),
        NameRule(u"ID_DENY_KD", u"kd.exe", {}, kHighest),
    };
    EXPECT_EQ(read.rules, expected);
    EXPECT_EQ(read.ignoredDenyRules, 1u);    // a short hash
    EXPECT_EQ(read.ignoredFileAttribs, 2u);  // both apply only with their signer
    EXPECT_EQ(read.cutAt, u"");
}

// The policy as Windows tools often save it: UTF-16 of either byte order with its mark, the
// declaration saying so; and UTF-8 with a mark.
TEST(SiPolicyTest, Utf16CopiesReadTheSame) {
    const Bytes fixture = ReadListFixture("sipolicy.xml");
    const SiPolicyRead expected = ReadSiPolicy(fixture);
    const Bytes declared = Replaced(fixture, "encoding=\"utf-8\"", "encoding=\"utf-16\"");
    Bytes withMark = {0xEF, 0xBB, 0xBF};
    withMark.insert(withMark.end(), fixture.begin(), fixture.end());
    for (const Bytes& copy : {ToUtf16(declared, false, true), ToUtf16(declared, true, true),
                              withMark, Replaced(fixture, "\n", "\r\n")}) {
        const SiPolicyRead read = ReadSiPolicy(copy);
        EXPECT_EQ(read.error, u"");
        EXPECT_EQ(read.rules, expected.rules);
        EXPECT_EQ(read.ignoredDenyRules, expected.ignoredDenyRules);
        EXPECT_EQ(read.ignoredFileAttribs, expected.ignoredFileAttribs);
    }
}

TEST(SiPolicyTest, DenyRuleFormsTable) {
    using A = RuleNameAttribute;
    struct Case {
        const char* name;
        std::string rule;
        std::optional<BlockRule> kept;
    };
    const std::string sha1(40, 'A');
    const FileVersionNumber v1{{1, 0, 0, 0}};
    const FileVersionNumber v2{{2, 0, 3, 4}};
    const Case cases[] = {
        {"sha1_hash", "<Deny ID=\"i\" Hash=\"" + sha1 + "\"/>",
         HashRule(u"i", std::string(40, 'a'))},
        {"sha256_hash", "<Deny ID=\"i\" Hash=\"" + std::string(64, 'b') + "\"/>",
         HashRule(u"i", std::string(64, 'b'))},
        {"md5_length_hash", "<Deny ID=\"i\" Hash=\"" + std::string(32, 'c') + "\"/>", {}},
        {"non_hex_hash", "<Deny ID=\"i\" Hash=\"" + std::string(39, 'A') + "G\"/>", {}},
        {"no_id", "<Deny Hash=\"" + sha1 + "\"/>", {}},
        {"blank_id", "<Deny ID=\" \" Hash=\"" + sha1 + "\"/>", {}},
        // In a Deny rule a maximum alone blocks that version and every one above it, a minimum
        // alone that version and every one below it, and both the versions between them.
        {"maximum_alone_blocks_it_and_above",
         "<Deny ID=\"i\" FileName=\"a.sys\" MaximumFileVersion=\"1.0\"/>",
         NameRule(u"i", u"a.sys", v1, kHighest)},
        {"minimum_alone_blocks_it_and_below",
         "<Deny ID=\"i\" FileName=\"a.sys\" MinimumFileVersion=\"1.0\"/>",
         NameRule(u"i", u"a.sys", {}, v1)},
        {"minimum_and_maximum_block_between",
         "<Deny ID=\"i\" FriendlyName=\"f\" FileName=\" a.sys \" MinimumFileVersion=\"1.0\" "
         "MaximumFileVersion=\"2.0.3.4\"/>",
         NameRule(u"i", u"a.sys", v1, v2)},
        {"every_version",
         "<Deny ID=\"i\" FileName=\"kd.exe\" MinimumFileVersion=\"65535.65535.65535.65535\"/>",
         NameRule(u"i", u"kd.exe", {}, kHighest)},
        {"one_version",
         "<Deny ID=\"i\" FileName=\"a.sys\" MinimumFileVersion=\"1.0\" "
         "MaximumFileVersion=\"1.0\"/>",
         NameRule(u"i", u"a.sys", v1, v1)},
        {"minimum_above_maximum_blocks_nothing",
         "<Deny ID=\"i\" FileName=\"a.sys\" MinimumFileVersion=\"2.0\" "
         "MaximumFileVersion=\"1.0\"/>",
         {}},
        {"internal_name", "<Deny ID=\"i\" InternalName=\"in\" MinimumFileVersion=\"1.0\"/>",
         NameRule(u"i", u"in", {}, v1, A::kInternalName)},
        {"file_description", "<Deny ID=\"i\" FileDescription=\"d\" MaximumFileVersion=\"1.0\"/>",
         NameRule(u"i", u"d", v1, kHighest, A::kFileDescription)},
        {"product_name", "<Deny ID=\"i\" ProductName=\"P\" MinimumFileVersion=\"1.0\"/>",
         NameRule(u"i", u"P", {}, v1, A::kProductName)},
        {"package_family_name",
         "<Deny ID=\"i\" PackageFamilyName=\"p_1\" MinimumFileVersion=\"1.0\"/>",
         {}},
        {"file_path", "<Deny ID=\"i\" FilePath=\"C:\\a.sys\" MinimumFileVersion=\"1.0\"/>", {}},
        {"name_only", "<Deny ID=\"i\" FileName=\"a.sys\"/>", {}},
        {"blank_name", "<Deny ID=\"i\" FileName=\" \" MinimumFileVersion=\"1.0\"/>", {}},
        {"maximum_only", "<Deny ID=\"i\" MaximumFileVersion=\"1.0\"/>", {}},
        {"bad_maximum", "<Deny ID=\"i\" FileName=\"a.sys\" MaximumFileVersion=\"x\"/>", {}},
        {"bad_minimum",
         "<Deny ID=\"i\" FileName=\"a.sys\" MinimumFileVersion=\"x\" MaximumFileVersion=\"1.0\"/>",
         {}},
        {"narrowed_by_product",
         "<Deny ID=\"i\" FileName=\"a.sys\" ProductName=\"P\" MaximumFileVersion=\"1.0\"/>",
         {}},
        {"narrowed_by_package_version",
         "<Deny ID=\"i\" FileName=\"a.sys\" PackageVersion=\"1.0.0.0\" "
         "MaximumFileVersion=\"1.0\"/>",
         {}},
        {"prefixed_element", "<si:Deny ID=\"i\" Hash=\"" + sha1 + "\"/>",
         HashRule(u"i", std::string(40, 'a'))},
    };
    for (const Case& c : cases) {
        const std::string policy =
            "<si:SiPolicy xmlns:si=\"urn:schemas-microsoft-com:sipolicy\"><si:FileRules>" + c.rule +
            "</si:FileRules></si:SiPolicy>";
        const SiPolicyRead read = ReadSiPolicy(BytesOf(policy));
        EXPECT_EQ(read.error, u"") << c.name;
        if (c.kept) {
            EXPECT_EQ(read.rules, std::vector<BlockRule>{*c.kept}) << c.name;
        } else {
            EXPECT_TRUE(read.rules.empty()) << c.name;
        }
        EXPECT_EQ(read.ignoredDenyRules, c.kept ? 0u : 1u) << c.name;
    }
}

// A policy that ends inside its document element was cut short: the Deny rules read whole before
// the end are kept, the one the cut falls in is not, and the policy says where it ends.
TEST(SiPolicyTest, APolicyEndingInsideAnElementWasCutShort) {
    const Bytes fixture = ReadListFixture("sipolicy.xml");
    const SiPolicyRead whole = ReadSiPolicy(fixture);
    ASSERT_EQ(whole.rules.size(), 6u);
    const std::string text(fixture.begin(), fixture.end());
    const auto upTo = [&text](std::string_view mark, std::ptrdiff_t more) {
        const std::size_t at = text.find(mark);
        EXPECT_NE(at, std::string::npos) << mark;
        return BytesOf(text.substr(
            0, at + static_cast<std::size_t>(static_cast<std::ptrdiff_t>(mark.size()) + more)));
    };
    const auto lineOf = [&text](std::string_view mark) {
        return std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(text.find(mark)),
                          '\n') +
               1;
    };
    const auto at = [&](std::string_view element, std::string_view mark, int column) {
        return u"inside <" + AsciiText(element) + u"> opened on line " +
               DecimalText(static_cast<std::uint64_t>(lineOf(mark))) + u", column " +
               DecimalText(static_cast<std::uint64_t>(column));
    };
    struct Case {
        const char* name;
        Bytes bytes;
        std::size_t rules;  // the first ones of the whole policy
        Text cutAt;
    };
    const Case cases[] = {
        // Cut inside the hash of the third rule: a shorter hash would be a rule of its own.
        {"in_an_attribute_value", upTo("Hash='C478886193", 0), 2,
         at("Deny", "Hash='C478886193", 5)},
        {"in_a_start_tag", upTo("<Deny ID=\"ID_DENY_OLDIO\"", 0), 4,
         at("Deny", "<Deny ID=\"ID_DENY_OLDIO\"", 5)},
        {"right_after_a_rule", upTo("FileName=\"OldIo.sys\" MinimumFileVersion=\"2.5.0.11\" />", 0),
         5, at("FileRules", "<FileRules>", 3)},
        {"in_a_comment", upTo("<!-- Every version", -5), 5, at("FileRules", "<FileRules>", 3)},
        {"after_the_file_rules", upTo("</FileRules>", 0), 6, at("SiPolicy", "<SiPolicy", 1)},
        {"in_the_end_tag", upTo("</SiPolicy", 0), 6, at("SiPolicy", "<SiPolicy", 1)},
        {"utf16_in_a_character",
         [&] {
             Bytes b = ToUtf16(upTo("<Deny ID=\"ID_DENY_OLDIO\"", 0), false, true);
             b.pop_back();
             return b;
         }(),
         4, at("Deny", "<Deny ID=\"ID_DENY_OLDIO\"", 5)},
    };
    for (const Case& c : cases) {
        const SiPolicyRead read = ReadSiPolicy(c.bytes);
        EXPECT_EQ(read.error, u"") << c.name;
        EXPECT_EQ(read.cutAt, c.cutAt) << c.name << ": " << TextToUtf8(read.cutAt);
        EXPECT_EQ(read.rules, std::vector<BlockRule>(
                                  whole.rules.begin(),
                                  whole.rules.begin() + static_cast<std::ptrdiff_t>(c.rules)))
            << c.name;
    }
    // Cut before the document element's start tag is whole: no policy at all.
    const SiPolicyRead none = ReadSiPolicy(BytesOf("<?xml version=\"1.0\"?>\n<SiPol"));
    EXPECT_NE(none.error, u"");
    EXPECT_EQ(none.cutAt, u"");
}

TEST(SiPolicyTest, NoPolicyGivesAReason) {
    struct Case {
        const char* name;
        std::string text;
        std::u16string_view error;
    };
    const Case cases[] = {
        {"broken_xml", "<SiPolicy><FileRules></SiPolicy>",
         u"not an XML document: </SiPolicy> closes <FileRules> (line 1)"},
        {"another_document", "<Policy/>",
         u"not a code-integrity policy: the document element is <Policy>, not <SiPolicy>"},
        {"csv", "Id,Category\r\n",
         u"not an XML document: text before the document element (line 1)"},
    };
    for (const Case& c : cases) {
        const SiPolicyRead read = ReadSiPolicy(BytesOf(c.text));
        EXPECT_EQ(read.error, c.error) << c.name;
        EXPECT_TRUE(read.rules.empty()) << c.name;
    }
    // Rules outside FileRules, or FileRules not right under the root, are no file rules.
    const SiPolicyRead elsewhere = ReadSiPolicy(BytesOf(
        "<SiPolicy><Deny ID=\"a\" Hash=\"" + std::string(40, 'A') + "\"/><Other><FileRules>" +
        "<Deny ID=\"b\" Hash=\"" + std::string(40, 'A') + "\"/></FileRules></Other></SiPolicy>"));
    EXPECT_EQ(elsewhere.error, u"");
    EXPECT_TRUE(elsewhere.rules.empty());
}

// ---- Matching ----

FileIdentity Identity(
    std::initializer_list<std::pair<Text FileIdentity::*, std::string_view>> set) {
    FileIdentity identity;
    for (const auto& [member, value] : set)
        identity.*member = T(value);
    return identity;
}

// A file by its version resource: OriginalFilename and the binary file version a.b.c.d.
FileIdentity Named(std::string_view name, std::optional<FileVersionNumber> version) {
    FileIdentity identity;
    identity.version.originalFilename = T(name);
    if (version) {
        std::uint64_t packed = 0;
        for (const std::uint16_t part : version->parts)
            packed = packed << 16 | part;
        identity.version.fileVersion = packed;
    }
    return identity;
}

struct Expected {
    std::string_view id;
    MatchedBy by;
    MatchedAlgorithm algorithm;
};

void ExpectMatches(const std::vector<VulnerableMatch>& matches,
                   const std::vector<Expected>& expected, std::string_view source,
                   const char* name) {
    ASSERT_EQ(matches.size(), expected.size()) << name;
    for (std::size_t i = 0; i < matches.size(); ++i) {
        EXPECT_EQ(matches[i].id, T(expected[i].id)) << name << " #" << i;
        EXPECT_EQ(matches[i].by, expected[i].by) << name << " #" << i;
        EXPECT_EQ(matches[i].algorithm, expected[i].algorithm) << name << " #" << i;
        EXPECT_EQ(matches[i].source, T(source)) << name << " #" << i;
    }
}

using M = FileIdentity;
using By = MatchedBy;
using Alg = MatchedAlgorithm;

TEST(VulnerableListsTest, FilesAgainstTheLolDriversFixture) {
    VulnerableLists lists;
    const ListLoadReport report = lists.Load(ReadListFixture("drivers.csv"), u"drivers.csv");
    EXPECT_EQ(report.format, ListFormat::kLolDriversCsv);
    EXPECT_EQ(report.error, u"");
    EXPECT_EQ(report.entries, 5u);
    EXPECT_EQ(report.skippedRows, 1u);
    EXPECT_EQ(report.ignoredValues, 2u);

    struct Case {
        const char* name;
        FileIdentity file;
        std::vector<Expected> expected;
    };
    const std::string upperA2 = Upper(kSha256A2);
    const Case cases[] = {
        {"a_by_every_way_it_can",
         Identity({{&M::md5, Upper(kMd5A)},
                   {&M::sha1, kSha1A},
                   {&M::sha256, upperA2},
                   {&M::imageSha256, Upper(kImageSha256A)}}),
         {{kIdA, By::kFileHash, Alg::kMd5},
          {kIdA, By::kFileHash, Alg::kSha1},
          {kIdA, By::kFileHash, Alg::kSha256},
          {kIdA, By::kImageHash, Alg::kSha256}}},
        {"b_by_its_second_sha1_and_image_hash",
         Identity({{&M::sha1, kSha1B2}, {&M::imageSha1, kImageSha1B}}),
         {{kIdB, By::kFileHash, Alg::kSha1}, {kIdB, By::kImageHash, Alg::kSha1}}},
        {"image_md5_never_matches", Identity({{&M::md5, kImageMd5A}}), {}},
        {"file_hash_is_no_image_hash", Identity({{&M::imageSha256, kSha256A1}}), {}},
        {"image_hash_is_no_file_hash", Identity({{&M::sha256, kImageSha256A}}), {}},
        {"skipped_row_never_matches", Identity({{&M::md5, kMd5Broken}}), {}},
        {"d_by_its_one_good_value",
         Identity({{&M::sha256, kSha256D}}),
         {{kIdD, By::kFileHash, Alg::kSha256}}},
        {"d_not_by_a_value_cut_short", Identity({{&M::sha256, kSha256D.substr(0, 63)}}), {}},
        {"f_upper_case_in_the_list",
         Identity({{&M::sha256, kSha256F}}),
         {{kIdF, By::kFileHash, Alg::kSha256}}},
        {"a_sha1_in_the_sha256_member", Identity({{&M::sha256, kSha1A}}), {}},
        {"blanks_around_a_cell_value",
         Identity({{&M::md5, "  " + std::string(kMd5A) + " "}}),
         {{kIdA, By::kFileHash, Alg::kMd5}}},
        {"nothing_known", FileIdentity{}, {}},
        {"name_alone_is_nothing", Named("fixvuln.sys", FileVersionNumber{{1, 0, 0, 0}}), {}},
    };
    for (const Case& c : cases) {
        const std::vector<VulnerableMatch> matches = lists.Match(c.file);
        ExpectMatches(matches, c.expected, "drivers.csv", c.name);
        for (const VulnerableMatch& match : matches) {
            EXPECT_EQ(match.format, ListFormat::kLolDriversCsv);
            EXPECT_EQ(match.category,
                      TextView(match.id == T(kIdB) ? u"malicious" : u"vulnerable driver"));
        }
    }
}

TEST(VulnerableListsTest, FilesAgainstThePolicyFixture) {
    VulnerableLists lists;
    const ListLoadReport report = lists.Load(ReadListFixture("sipolicy.xml"), u"SiPolicy.xml");
    EXPECT_EQ(report.format, ListFormat::kSiPolicy);
    EXPECT_EQ(report.error, u"");
    EXPECT_EQ(report.entries, 6u);
    EXPECT_EQ(report.ignoredValues, 1u);
    EXPECT_EQ(report.ignoredFileAttribs, 2u);

    using V = FileVersionNumber;
    const auto named = [](std::string_view name, std::optional<V> version) {
        return Named(name, version);
    };
    struct Case {
        const char* name;
        FileIdentity file;
        std::vector<Expected> expected;
    };
    const Case cases[] = {
        {"image_sha1",
         Identity({{&M::imageSha1, kImageSha1G}}),
         {{"ID_DENY_FIXPAGES_SHA1", By::kImageHash, Alg::kSha1}}},
        {"image_sha256_lower_case",
         Identity({{&M::imageSha256, kImageSha256A}}),
         {{"ID_DENY_FIXVULN_SHA256", By::kImageHash, Alg::kSha256}}},
        {"file_hashes_are_not_image_hashes",
         Identity({{&M::sha256, kImageSha256H}, {&M::sha1, kImageSha1G}}),
         {}},
        {"page_hash_as_image_sha1",
         Identity({{&M::imageSha1, kPageSha1G}}),
         {{"ID_DENY_FIXPAGES_SHA1_PAGE", By::kImageHash, Alg::kSha1}}},
        {"sha1_rule_against_the_sha256_member", Identity({{&M::imageSha256, kImageSha1G}}), {}},
        {"name_and_the_version_itself",
         named("oldio.SYS", V{{2, 5, 0, 11}}),
         {{"ID_DENY_OLDIO", By::kNameAndVersion, Alg::kNone}}},
        {"name_and_an_older_version",
         named(" OldIo.sys ", V{{2, 4, 0, 0}}),
         {{"ID_DENY_OLDIO", By::kNameAndVersion, Alg::kNone}}},
        {"the_lowest_version",
         named("OLDIO.SYS", V{}),
         {{"ID_DENY_OLDIO", By::kNameAndVersion, Alg::kNone}}},
        {"a_newer_version", named("OldIo.sys", V{{2, 5, 0, 12}}), {}},
        {"a_newer_minor_version", named("OldIo.sys", V{{2, 6, 0, 0}}), {}},
        {"no_binary_version", named("OldIo.sys", std::nullopt), {}},
        {"another_name", named("OldIo.sys.mui", V{{1, 0, 0, 0}}), {}},
        {"no_name", named("", V{{1, 0, 0, 0}}), {}},
        {"file_attrib_names_alone_never_match", named("signedio.sys", V{{1, 0, 0, 0}}), {}},
        {"every_version_of_kd",
         named("KD.EXE", V{{65535, 65535, 65535, 65535}}),
         {{"ID_DENY_KD", By::kNameAndVersion, Alg::kNone}}},
        {"the_lowest_version_of_kd",
         named("kd.exe", V{}),
         {{"ID_DENY_KD", By::kNameAndVersion, Alg::kNone}}},
        {"kd_without_a_binary_version", named("kd.exe", std::nullopt), {}},
    };
    for (const Case& c : cases) {
        const std::vector<VulnerableMatch> matches = lists.Match(c.file);
        ExpectMatches(matches, c.expected, "SiPolicy.xml", c.name);
        for (const VulnerableMatch& match : matches) {
            EXPECT_EQ(match.format, ListFormat::kSiPolicy);
            EXPECT_EQ(match.category, u"");
        }
    }
}

// Several lists: matches come in load order, each naming its own list; a list that cannot be
// read is reported and kept out, the others work on.
TEST(VulnerableListsTest, SeveralListsAndOneThatCannotBeRead) {
    VulnerableLists lists;
    lists.Load(ReadListFixture("drivers.csv"), u"lol.csv");
    const ListLoadReport broken =
        lists.Load(BytesOf("<SiPolicy><FileRules></SiPolicy>"), u"broken.xml");
    const Bytes policy16 = ToUtf16(ReadListFixture("sipolicy.xml"), false, true);
    lists.Load(policy16, u"policy16.xml");
    EXPECT_EQ(broken.format, ListFormat::kSiPolicy);
    EXPECT_EQ(broken.error, u"not an XML document: </SiPolicy> closes <FileRules> (line 1)");
    EXPECT_TRUE(lists.AnyUnread());
    ASSERT_EQ(lists.Reports().size(), 3u);
    EXPECT_EQ(lists.Reports()[1].source, u"broken.xml");
    EXPECT_EQ(lists.Reports()[2].format, ListFormat::kSiPolicy);
    EXPECT_EQ(lists.Reports()[2].entries, 6u);

    const std::vector<VulnerableMatch> matches =
        lists.Match(Identity({{&M::imageSha256, kImageSha256A}, {&M::md5, kMd5A}}));
    ASSERT_EQ(matches.size(), 3u);
    EXPECT_EQ(matches[0], (VulnerableMatch{u"lol.csv", ListFormat::kLolDriversCsv, T(kIdA),
                                           u"vulnerable driver", By::kFileHash, Alg::kMd5}));
    EXPECT_EQ(matches[1], (VulnerableMatch{u"lol.csv", ListFormat::kLolDriversCsv, T(kIdA),
                                           u"vulnerable driver", By::kImageHash, Alg::kSha256}));
    EXPECT_EQ(matches[2],
              (VulnerableMatch{u"policy16.xml", ListFormat::kSiPolicy, u"ID_DENY_FIXVULN_SHA256",
                               u"", By::kImageHash, Alg::kSha256}));
    EXPECT_EQ(KnownVulnerableText(matches),
              u"LOLDrivers 3f1c2a9e-7b4d-4c1e-9a55-0d2b8e6f1a01 (vulnerable driver): file hash "
              u"MD5, image hash SHA-256; SiPolicy ID_DENY_FIXVULN_SHA256: image hash SHA-256");
}

TEST(VulnerableListsTest, ListsThatAreUnusableAsAWhole) {
    struct Case {
        const char* name;
        std::string text;
        std::u16string_view error;
    };
    const Case cases[] = {
        {"every_row_malformed", std::string(kShortHeader) + "x1,c\r\n\"x2\"junk,c,,,,,,\r\n",
         u"not one row of the list could be read (2 malformed)"},
        {"not_a_list", "hello\r\n", u"not a LOLDrivers list"},
        {"empty", "", u"the list is empty"},
    };
    for (const Case& c : cases) {
        VulnerableLists lists;
        const ListLoadReport report = lists.Load(BytesOf(c.text), u"x");
        EXPECT_NE(report.error.find(c.error), Text::npos)
            << c.name << ": " << TextToUtf8(report.error);
        EXPECT_TRUE(lists.AnyUnread()) << c.name;
    }
    // A header without rows, and a policy without file rules, are lists with nothing on them.
    VulnerableLists empty;
    EXPECT_EQ(empty.Load(BytesOf(kShortHeader), u"a").error, u"");
    EXPECT_EQ(empty.Load(BytesOf("<SiPolicy/>"), u"b").error, u"");
    EXPECT_FALSE(empty.AnyUnread());
    EXPECT_TRUE(empty.Match(Identity({{&M::md5, kMd5A}})).empty());
}

// Which versions a Deny rule by name blocks, as Microsoft describes file rules in Deny rules: a
// maximum alone blocks it and above, a minimum alone it and below, both the range between.
TEST(VulnerableListsTest, NameRuleVersionsAsDenyRulesReadThem) {
    using V = FileVersionNumber;
    struct Case {
        const char* versions;  // the rule's attributes
        V file;
        bool blocked;
    };
    const Case cases[] = {
        {"MaximumFileVersion=\"2.5.0.11\"", V{{2, 5, 0, 11}}, true},
        {"MaximumFileVersion=\"2.5.0.11\"", V{{2, 5, 0, 12}}, true},
        {"MaximumFileVersion=\"2.5.0.11\"", V{{65535, 0, 0, 0}}, true},
        {"MaximumFileVersion=\"2.5.0.11\"", V{{2, 5, 0, 10}}, false},
        {"MaximumFileVersion=\"2.5.0.11\"", V{{1, 65535, 65535, 65535}}, false},
        {"MinimumFileVersion=\"2.5.0.11\"", V{{2, 5, 0, 11}}, true},
        {"MinimumFileVersion=\"2.5.0.11\"", V{{0, 0, 0, 0}}, true},
        {"MinimumFileVersion=\"2.5.0.11\"", V{{2, 5, 0, 12}}, false},
        {"MinimumFileVersion=\"2.5.0.11\"", V{{2, 5, 1, 0}}, false},
        {"MinimumFileVersion=\"65535.65535.65535.65535\"", V{{65535, 65535, 65535, 65535}}, true},
        {"MinimumFileVersion=\"65535.65535.65535.65535\"", V{{0, 0, 0, 1}}, true},
        {"MinimumFileVersion=\"1.0\" MaximumFileVersion=\"2.0\"", V{{1, 0, 0, 0}}, true},
        {"MinimumFileVersion=\"1.0\" MaximumFileVersion=\"2.0\"", V{{1, 9, 9, 9}}, true},
        {"MinimumFileVersion=\"1.0\" MaximumFileVersion=\"2.0\"", V{{2, 0, 0, 0}}, true},
        {"MinimumFileVersion=\"1.0\" MaximumFileVersion=\"2.0\"", V{{0, 9, 0, 0}}, false},
        {"MinimumFileVersion=\"1.0\" MaximumFileVersion=\"2.0\"", V{{2, 0, 0, 1}}, false},
    };
    for (const Case& c : cases) {
        VulnerableLists lists;
        const std::string policy =
            std::string("<SiPolicy><FileRules><Deny ID=\"R\" FileName=\"a.sys\" ") + c.versions +
            "/></FileRules></SiPolicy>";
        ASSERT_EQ(lists.Load(BytesOf(policy), u"p.xml").entries, 1u) << c.versions;
        const std::string trace =
            std::string(c.versions) + " file " + std::to_string(c.file.parts[0]) + "." +
            std::to_string(c.file.parts[1]) + "." + std::to_string(c.file.parts[2]) + "." +
            std::to_string(c.file.parts[3]);
        EXPECT_EQ(lists.Match(Named("A.SYS", c.file)).size(), c.blocked ? 1u : 0u) << trace;
    }
}

// A rule made at another file-name level names the file by that version-resource string, and
// by no other.
TEST(VulnerableListsTest, NameRulesCompareTheStringTheyName) {
    VulnerableLists lists;
    ASSERT_EQ(
        lists
            .Load(BytesOf("<SiPolicy><FileRules>"
                          "<Deny ID=\"ORIG\" FileName=\"a.sys\" MinimumFileVersion=\"9.0\"/>"
                          "<Deny ID=\"INT\" InternalName=\"a.sys\" MinimumFileVersion=\"9.0\"/>"
                          "<Deny ID=\"DESC\" FileDescription=\"A Driver\" "
                          "MinimumFileVersion=\"9.0\"/>"
                          "<Deny ID=\"PROD\" ProductName=\"A Suite\" MinimumFileVersion=\"9.0\"/>"
                          "</FileRules></SiPolicy>"),
                  u"p.xml")
            .entries,
        4u);
    using N = Text VersionIdentity::*;
    struct Case {
        const char* name;
        std::vector<std::pair<N, std::string_view>> strings;
        std::vector<std::string_view> ids;
    };
    const Case cases[] = {
        {"original_filename", {{&VersionIdentity::originalFilename, "a.sys"}}, {"ORIG"}},
        {"internal_name", {{&VersionIdentity::internalName, "A.SYS"}}, {"INT"}},
        {"file_description", {{&VersionIdentity::fileDescription, "a driver"}}, {"DESC"}},
        {"product_name", {{&VersionIdentity::productName, "A Suite"}}, {"PROD"}},
        {"names_in_the_wrong_strings",
         {{&VersionIdentity::productName, "a.sys"},
          {&VersionIdentity::originalFilename, "A Suite"}},
         {}},
        {"all_four",
         {{&VersionIdentity::originalFilename, "a.sys"},
          {&VersionIdentity::internalName, "a.sys"},
          {&VersionIdentity::fileDescription, "A Driver"},
          {&VersionIdentity::productName, "A Suite"}},
         {"ORIG", "INT", "DESC", "PROD"}},
    };
    for (const Case& c : cases) {
        FileIdentity file;
        file.version.fileVersion = 0x0001000000000000;  // 1.0.0.0
        for (const auto& [member, value] : c.strings)
            file.version.*member = T(value);
        std::vector<std::string> ids;
        for (const VulnerableMatch& match : lists.Match(file)) {
            EXPECT_EQ(match.by, By::kNameAndVersion) << c.name;
            ids.push_back(TextToUtf8(match.id));
        }
        EXPECT_EQ(ids, std::vector<std::string>(c.ids.begin(), c.ids.end())) << c.name;
    }
}

// A list cut short in transit is loaded as far as it goes, and still counts as not read.
TEST(VulnerableListsTest, ACutListIsUsedAsFarAsItGoesAndCountsAsUnread) {
    const Bytes policy = ReadListFixture("sipolicy.xml");
    const std::string text(policy.begin(), policy.end());
    const std::string csv = std::string(kShortHeader) + "x1,c," + std::string(kMd5A) +
                            ",,,,,\r\nx2,c,\"" + std::string(kSha1A);
    struct Case {
        const char* name;
        Bytes bytes;
        std::size_t entries;
        FileIdentity before;  // matches an entry before the cut
        FileIdentity cut;     // would match the entry the cut falls in
    };
    const Case cases[] = {
        {"policy", BytesOf(text.substr(0, text.find("<Deny ID=\"ID_DENY_FIXNEW_SHA256\"") + 30)), 3,
         Identity({{&M::imageSha256, kImageSha256A}}),
         Identity({{&M::imageSha256, kImageSha256H}})},
        {"csv", BytesOf(csv), 1, Identity({{&M::md5, kMd5A}}), Identity({{&M::sha1, kSha1A}})},
    };
    for (const Case& c : cases) {
        VulnerableLists lists;
        const ListLoadReport report = lists.Load(c.bytes, u"cut");
        EXPECT_EQ(report.error, u"") << c.name;
        EXPECT_NE(report.cutAt, u"") << c.name;
        EXPECT_EQ(report.entries, c.entries) << c.name;
        EXPECT_EQ(lists.Count(), 1u) << c.name;
        EXPECT_TRUE(lists.AnyUnread()) << c.name;
        EXPECT_EQ(lists.Match(c.before).size(), 1u) << c.name;
        EXPECT_TRUE(lists.Match(c.cut).empty()) << c.name;
    }
}

TEST(VulnerableListsTest, FormatFromTheFirstCharacters) {
    struct Case {
        const char* name;
        Bytes bytes;
        ListFormat format;
    };
    const Bytes xml = BytesOf("<?xml version=\"1.0\"?><SiPolicy/>");
    const Case cases[] = {
        {"csv_fixture", ReadListFixture("drivers.csv"), ListFormat::kLolDriversCsv},
        {"policy_fixture", ReadListFixture("sipolicy.xml"), ListFormat::kSiPolicy},
        {"utf16le", ToUtf16(xml, false, true), ListFormat::kSiPolicy},
        {"utf16be", ToUtf16(xml, true, true), ListFormat::kSiPolicy},
        {"utf16_odd_length",
         [&] {
             Bytes b = ToUtf16(xml, false, true);
             b.push_back(0);
             return b;
         }(),
         ListFormat::kSiPolicy},
        {"mark_and_blanks", BytesOf("\xEF\xBB\xBF \r\n\t<SiPolicy/>"), ListFormat::kSiPolicy},
        {"plain_text", BytesOf("Id,Category"), ListFormat::kLolDriversCsv},
        {"empty", Bytes{}, ListFormat::kLolDriversCsv},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DetectListFormat(c.bytes), c.format) << c.name;
}

// ---- The cell ----

TEST(KnownVulnerableTextTest, OneEntryPerListEntryWithWhatMatched) {
    const auto lol = [](std::string_view id, std::string_view category, By by, Alg algorithm) {
        return VulnerableMatch{u"drivers.csv", ListFormat::kLolDriversCsv, T(id), T(category), by,
                               algorithm};
    };
    const auto rule = [](std::string_view id, By by, Alg algorithm) {
        return VulnerableMatch{u"SiPolicy.xml", ListFormat::kSiPolicy, T(id), u"", by, algorithm};
    };
    struct Case {
        const char* name;
        std::vector<VulnerableMatch> matches;
        std::u16string_view text;
    };
    const Case cases[] = {
        {"none", {}, u""},
        {"one",
         {lol("id-1", "vulnerable driver", By::kImageHash, Alg::kSha256)},
         u"LOLDrivers id-1 (vulnerable driver): image hash SHA-256"},
        {"one_entry_several_ways",
         {lol("id-1", "malicious", By::kFileHash, Alg::kMd5),
          lol("id-1", "malicious", By::kFileHash, Alg::kSha1),
          lol("id-1", "malicious", By::kImageHash, Alg::kSha1)},
         u"LOLDrivers id-1 (malicious): file hash MD5, file hash SHA-1, image hash SHA-1"},
        {"two_entries_in_match_order",
         {lol("id-2", "vulnerable driver", By::kFileHash, Alg::kSha256),
          rule("ID_DENY_X", By::kNameAndVersion, Alg::kNone),
          lol("id-2", "vulnerable driver", By::kImageHash, Alg::kSha256)},
         u"LOLDrivers id-2 (vulnerable driver): file hash SHA-256, image hash SHA-256; "
         u"SiPolicy ID_DENY_X: name and version"},
        {"same_way_twice_once",
         {rule("R", By::kImageHash, Alg::kSha1), rule("R", By::kImageHash, Alg::kSha1)},
         u"SiPolicy R: image hash SHA-1"},
        {"no_category",
         {lol("id-3", "", By::kFileHash, Alg::kSha256)},
         u"LOLDrivers id-3: file hash SHA-256"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(KnownVulnerableText(c.matches), c.text) << c.name;
}

}  // namespace
}  // namespace tolvessa
