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
        {"quote_never_closed", "x2,c,,,,,,\r\n\"x1,c,,,,,,\r\nx3,c,,,,,,\r\n", {"x2"}, 1, 0},
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

TEST(SiPolicyTest, ReadsTheDenyRulesOfTheFixture) {
    const SiPolicyRead read = ReadSiPolicy(ReadListFixture("sipolicy.xml"));
    ASSERT_EQ(read.error, u"");
    using K = BlockRule::Kind;
    const std::vector<BlockRule> expected = {
        {u"ID_DENY_FIXPAGES_SHA1",
         K::kImageHash,
         HashAlgorithm::kSha1,
         "90398501f9112c99d76186d35f650a7868ec939b",
         u"",
         {}},
        {u"ID_DENY_FIXPAGES_SHA1_PAGE",
         K::kImageHash,
         HashAlgorithm::kSha1,
         "2cfe00b4d3f74b2026682d923b3c3c001df2b017",
         u"",
         {}},
        {u"ID_DENY_FIXVULN_SHA256",
         K::kImageHash,
         HashAlgorithm::kSha256,
         std::string(kImageSha256A),
         u"",
         {}},
        {u"ID_DENY_FIXNEW_SHA256",
         K::kImageHash,
         HashAlgorithm::kSha256,
         "fa456270edaaaa4988e0258c3fb294dfbbbccfade2fb69bb1dd0ea1f4da3cd9f",
         u"",
         {}},
        {u"ID_DENY_OLDIO", K::kNameAndVersion, HashAlgorithm::kSha1, "", u"OldIo.sys",
         FileVersionNumber{{2, 5, 0, 11}}},
    };
    EXPECT_EQ(read.rules, expected);
    EXPECT_EQ(read.ignoredDenyRules, 2u);    // a short hash, a version without a maximum
    EXPECT_EQ(read.ignoredFileAttribs, 2u);  // both apply only with their signer
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
    struct Case {
        const char* name;
        std::string rule;
        bool kept;
    };
    const std::string sha1(40, 'A');
    const Case cases[] = {
        {"sha1_hash", "<Deny ID=\"i\" Hash=\"" + sha1 + "\"/>", true},
        {"sha256_hash", "<Deny ID=\"i\" Hash=\"" + std::string(64, 'b') + "\"/>", true},
        {"md5_length_hash", "<Deny ID=\"i\" Hash=\"" + std::string(32, 'c') + "\"/>", false},
        {"non_hex_hash", "<Deny ID=\"i\" Hash=\"" + std::string(39, 'A') + "G\"/>", false},
        {"no_id", "<Deny Hash=\"" + sha1 + "\"/>", false},
        {"blank_id", "<Deny ID=\" \" Hash=\"" + sha1 + "\"/>", false},
        {"name_and_maximum", "<Deny ID=\"i\" FileName=\"a.sys\" MaximumFileVersion=\"1.0\"/>",
         true},
        {"name_only", "<Deny ID=\"i\" FileName=\"a.sys\"/>", false},
        {"maximum_only", "<Deny ID=\"i\" MaximumFileVersion=\"1.0\"/>", false},
        {"bad_maximum", "<Deny ID=\"i\" FileName=\"a.sys\" MaximumFileVersion=\"x\"/>", false},
        {"narrowed_by_product",
         "<Deny ID=\"i\" FileName=\"a.sys\" ProductName=\"P\" MaximumFileVersion=\"1.0\"/>", false},
        {"prefixed_element", "<si:Deny ID=\"i\" Hash=\"" + sha1 + "\"/>", true},
    };
    for (const Case& c : cases) {
        const std::string policy =
            "<si:SiPolicy xmlns:si=\"urn:schemas-microsoft-com:sipolicy\"><si:FileRules>" + c.rule +
            "</si:FileRules></si:SiPolicy>";
        const SiPolicyRead read = ReadSiPolicy(BytesOf(policy));
        EXPECT_EQ(read.error, u"") << c.name;
        EXPECT_EQ(read.rules.size(), c.kept ? 1u : 0u) << c.name;
        EXPECT_EQ(read.ignoredDenyRules, c.kept ? 0u : 1u) << c.name;
    }
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
        {"name_alone_is_nothing", Identity({{&M::originalFilename, "fixvuln.sys"}}), {}},
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
    EXPECT_EQ(report.entries, 5u);
    EXPECT_EQ(report.ignoredValues, 2u);
    EXPECT_EQ(report.ignoredFileAttribs, 2u);

    const auto named = [](std::string_view name, std::string_view version) {
        return Identity({{&M::originalFilename, name}, {&M::fileVersion, version}});
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
         named("oldio.SYS", "2.5.0.11 (fixture build)"),
         {{"ID_DENY_OLDIO", By::kNameAndVersion, Alg::kNone}}},
        {"name_and_an_older_version",
         named("OldIo.sys", "2.4"),
         {{"ID_DENY_OLDIO", By::kNameAndVersion, Alg::kNone}}},
        {"older_version_in_the_old_style",
         named("OLDIO.SYS", "1, 9, 0, 0"),
         {{"ID_DENY_OLDIO", By::kNameAndVersion, Alg::kNone}}},
        {"a_newer_version", named("OldIo.sys", "2.5.0.12"), {}},
        {"no_version", named("OldIo.sys", ""), {}},
        {"an_unreadable_version", named("OldIo.sys", "beta"), {}},
        {"another_name", named("OldIo.sys.mui", "1.0"), {}},
        {"no_name", named("", "1.0"), {}},
        {"file_attrib_names_alone_never_match", named("signedio.sys", "1.0"), {}},
        {"version_without_maximum_never_matches", named("kd.exe", "1.0"), {}},
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
    const ListLoadReport broken = lists.Load(BytesOf("<SiPolicy>"), u"broken.xml");
    const Bytes policy16 = ToUtf16(ReadListFixture("sipolicy.xml"), false, true);
    lists.Load(policy16, u"policy16.xml");
    EXPECT_EQ(broken.format, ListFormat::kSiPolicy);
    EXPECT_EQ(broken.error, u"not an XML document: element <SiPolicy> is not closed (line 1)");
    EXPECT_TRUE(lists.AnyUnread());
    ASSERT_EQ(lists.Reports().size(), 3u);
    EXPECT_EQ(lists.Reports()[1].source, u"broken.xml");
    EXPECT_EQ(lists.Reports()[2].format, ListFormat::kSiPolicy);
    EXPECT_EQ(lists.Reports()[2].entries, 5u);

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
        {"every_row_malformed", std::string(kShortHeader) + "x1,c\r\n\"x2,c,,,,,,\r\n",
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
