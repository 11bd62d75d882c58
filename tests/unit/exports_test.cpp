// The CSV and JSON exports of the driver list: captions, quoting and escaping, the UTF-8 of
// UTF-16 cells, and the JSON document's layout.
#include "report/exports.h"

#include <gtest/gtest.h>

#include <string>

#include "tolvessa_product.h"

namespace tolvessa {
namespace {

DriverRow Row(std::initializer_list<TextView> cells) {
    DriverRow row;
    std::size_t at = 0;
    for (const TextView cell : cells)
        row[at++] = Text(cell);
    return row;
}

// Digests whose every byte is the one given for it: SHA-1, SHA-256, PE SHA-1, PE SHA-256, imphash.
FileDigests Filled(std::uint8_t sha1, std::uint8_t sha256, std::uint8_t peSha1,
                   std::uint8_t peSha256, std::uint8_t imphash) {
    FileDigests digests;
    digests.sha1.emplace().fill(sha1);
    digests.sha256.emplace().fill(sha256);
    digests.peSha1.emplace().fill(peSha1);
    digests.peSha256.emplace().fill(peSha256);
    digests.imphash.emplace().fill(imphash);
    return digests;
}

template <typename String>
String Repeated(const String& part, std::size_t count) {
    String whole;
    for (std::size_t i = 0; i < count; ++i)
        whole += part;
    return whole;
}

ModuleRecord Plain() {
    ModuleRecord record;
    record.row = Row({u"3", u"C:\\Windows\\System32\\drivers\\fix.sys", u"0xFFFFF80000400000",
                      u"0x7000", u"Fixture Vendor", u"Fixture driver", u"1.0.0.1",
                      u"DA8F7315E7708A77A39F755DDD4ABB53", u"False", u"True"});
    return record;
}

TEST(ExportsTest, CaptionsAreTheListsThenDigestsThenTrustThenLists) {
    const std::vector<TextView> expected = {
        u"Load Order",  u"Image Name", u"Base Address", u"Image Size",      u"Publisher",
        u"Description", u"Version",    u"MD5 Hash",     u"Hidden",          u"Exists",
        u"SHA-1",       u"SHA-256",    u"PE SHA-1",     u"PE SHA-256",      u"Imphash",
        u"Signature",   u"Signer",     u"Catalog",      u"Known Vulnerable"};
    EXPECT_EQ(std::vector<TextView>(kExportColumnCaptions.begin(), kExportColumnCaptions.end()),
              expected);
}

TEST(ExportsTest, CellsOfARecord) {
    ModuleRecord record = Plain();
    record.digests = Filled(0x51, 0x52, 0x0F, 0xF0, 0xAB);
    record.digests.sha1->back() = 0x1E;
    std::array<Text, kExportColumnCount> cells = ExportCells(record);
    for (std::size_t i = 0; i < kColumnCount; ++i)
        EXPECT_EQ(cells[i], record.row[i]) << i;
    EXPECT_EQ(cells[10], Repeated<Text>(u"51", 19) + u"1E");
    EXPECT_EQ(cells[11], Repeated<Text>(u"52", 32));
    EXPECT_EQ(cells[12], Repeated<Text>(u"0F", 20));
    EXPECT_EQ(cells[13], Repeated<Text>(u"F0", 32));
    EXPECT_EQ(cells[14], Repeated<Text>(u"AB", 16));
    // Signatures not checked: three empty cells; no match: an empty cell.
    for (std::size_t i = 15; i < kExportColumnCount; ++i)
        EXPECT_EQ(cells[i], u"") << i;

    record.trust = FileTrust{SignatureVerdict::kCatalog, u"Microsoft Windows", u"nt5.cat"};
    record.vulnerable = {{u"SiPolicy.xml", ListFormat::kSiPolicy, u"ID_DENY_X", u"",
                          MatchedBy::kImageHash, MatchedAlgorithm::kSha256}};
    cells = ExportCells(record);
    EXPECT_EQ(cells[15], u"Catalog");
    EXPECT_EQ(cells[16], u"Microsoft Windows");
    EXPECT_EQ(cells[17], u"nt5.cat");
    EXPECT_EQ(cells[18], u"SiPolicy ID_DENY_X: image hash SHA-256");
}

constexpr std::string_view kCsvHeader =
    "Load Order,Image Name,Base Address,Image Size,Publisher,Description,Version,MD5 Hash,"
    "Hidden,Exists,SHA-1,SHA-256,PE SHA-1,PE SHA-256,Imphash,Signature,Signer,Catalog,"
    "Known Vulnerable\r\n";

TEST(ExportsTest, CsvIsAHeaderAndOneCrLfRowPerRecord) {
    EXPECT_EQ(ExportCsv({}), kCsvHeader);
    ModuleRecord record = Plain();
    record.trust = FileTrust{SignatureVerdict::kUnsigned, u"", u""};
    EXPECT_EQ(ExportCsv({record, record}),
              std::string(kCsvHeader) +
                  "3,C:\\Windows\\System32\\drivers\\fix.sys,0xFFFFF80000400000,0x7000,Fixture "
                  "Vendor,Fixture driver,1.0.0.1,DA8F7315E7708A77A39F755DDD4ABB53,False,True,,,,,,"
                  "Unsigned,,,\r\n"
                  "3,C:\\Windows\\System32\\drivers\\fix.sys,0xFFFFF80000400000,0x7000,Fixture "
                  "Vendor,Fixture driver,1.0.0.1,DA8F7315E7708A77A39F755DDD4ABB53,False,True,,,,,,"
                  "Unsigned,,,\r\n");
}

// One cell of a one-row export: what it looks like in the file.
TEST(ExportsTest, CsvQuotesWhatNeedsItAndWritesUtf8) {
    struct Case {
        const char* name;
        Text cell;
        std::string field;
    };
    const Case cases[] = {
        {"plain", u"Fabrikam Inc", "Fabrikam Inc"},
        {"empty", u"", ""},
        {"comma", u"Fabrikam, Inc.", "\"Fabrikam, Inc.\""},
        {"quotes", u"say \"hi\"", "\"say \"\"hi\"\"\""},
        {"lone_quote", u"\"", "\"\"\"\""},
        {"cr_lf", u"two\r\nlines", "\"two\r\nlines\""},
        {"lf", u"a\nb", "\"a\nb\""},
        {"cr", u"a\rb", "\"a\rb\""},
        {"blanks_kept", u"  padded  ", "  padded  "},
        {"semicolon_and_tab", u"a;b\tc", "a;b\tc"},
        {"latin_and_euro", u"Caf\u00E9 \u20AC", "Caf\xC3\xA9 \xE2\x82\xAC"},
        {"surrogate_pair", u"\U0001F600", "\xF0\x9F\x98\x80"},
        {"lone_high_surrogate", Text(u"a") + char16_t(0xD800) + u"b",
         "a\xEF\xBF\xBD"
         "b"},
        {"lone_low_surrogate", Text(1, char16_t(0xDC00)), "\xEF\xBF\xBD"},
        {"quoted_and_non_ascii", u"\u00C5, \"\u00D8\"", "\"\xC3\x85, \"\"\xC3\x98\"\"\""},
        // What a spreadsheet would run as a formula is written after an apostrophe.
        {"formula_equals", u"=HYPERLINK(\"x\")", "\"'=HYPERLINK(\"\"x\"\")\""},
        {"formula_plus", u"+1+1", "'+1+1"},
        {"formula_minus", u"-2+3", "'-2+3"},
        {"formula_at", u"@SUM(A1)", "'@SUM(A1)"},
        {"formula_tab", u"\t=1", "'\t=1"},
        {"formula_cr", u"\r=1", "\"'\r=1\""},
        {"formula_comma", u"=1,2", "\"'=1,2\""},
        {"only_the_first_character_counts", u"a=-@", "a=-@"},
        {"after_a_blank_left_alone", u" =1", " =1"},
        {"apostrophe_itself", u"'quoted", "'quoted"},
    };
    for (const Case& c : cases) {
        ModuleRecord record;
        record.row[kPublisher] = c.cell;
        const std::string csv = ExportCsv({record});
        const std::string expected =
            std::string(kCsvHeader) + ",,,," + c.field + ",,,,,,,,,,,,,,\r\n";
        EXPECT_EQ(csv, expected) << c.name;
    }
}

// Every text cell of the file gets the apostrophe, the ten of the row and the signer's and
// catalog's after the digests (upper-case hex, which never needs one); the JSON document keeps
// the texts as they are.
TEST(ExportsTest, EveryCsvCellIsGuardedAgainstFormulasAndJsonKeepsTheText) {
    ModuleRecord record;
    for (std::size_t i = 0; i < kColumnCount; ++i)
        record.row[i] = u"=" + DecimalText(i);
    record.digests = Filled(0x01, 0x02, 0x03, 0x04, 0x05);
    record.trust = FileTrust{SignatureVerdict::kEmbedded, u"-Signer", u"@cat.cat"};
    std::string expected(kCsvHeader);
    for (std::size_t i = 0; i < kColumnCount; ++i)
        expected += "'=" + std::to_string(i) + ",";
    expected += Repeated<std::string>("01", 20) + "," + Repeated<std::string>("02", 32) + "," +
                Repeated<std::string>("03", 20) + "," + Repeated<std::string>("04", 32) + "," +
                Repeated<std::string>("05", 16) + ",Embedded,'-Signer,'@cat.cat,\r\n";
    EXPECT_EQ(ExportCsv({record}), expected);

    const std::string json = ExportJson({}, {record});
    for (const char* kept :
         {"\"publisher\": \"=4\"", "\"signer\": \"-Signer\"", "\"catalog\": \"@cat.cat\""}) {
        EXPECT_NE(json.find(kept), std::string::npos) << kept << "\n" << json;
    }
    EXPECT_EQ(json.find('\''), std::string::npos) << json;
}

TEST(ExportsTest, JsonStringEscapes) {
    struct Case {
        Text text;
        std::string json;
    };
    const Case cases[] = {
        {u"", "\"\""},
        {u"plain", "\"plain\""},
        {u"q\"b\\s/", "\"q\\\"b\\\\s/\""},
        {u"\b\f\n\r\t", "\"\\b\\f\\n\\r\\t\""},
        {Text(1, u'\0') + u"\x01\x1F\x7F", "\"\\u0000\\u0001\\u001f\x7F\""},
        {u"C:\\Windows\\x.sys", "\"C:\\\\Windows\\\\x.sys\""},
        {u"\u00E9\u2028\U0001F600", "\"\xC3\xA9\xE2\x80\xA8\xF0\x9F\x98\x80\""},
        {Text(1, char16_t(0xDBFF)), "\"\xEF\xBF\xBD\""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(JsonString(c.text), c.json) << TextToUtf8(c.text);
}

TEST(ExportsTest, IsoTimeIsZeroPaddedUtc) {
    EXPECT_EQ(IsoUtcText({2026, 3, 1, 9, 5, 7}), "2026-03-01T09:05:07Z");
    EXPECT_EQ(IsoUtcText({1999, 12, 31, 23, 59, 59}), "1999-12-31T23:59:59Z");
}

TEST(ExportsTest, JsonDocument) {
    ModuleRecord first = Plain();
    first.digests = Filled(0xA1, 0xB2, 0xC3, 0xD4, 0xE5);
    first.trust = FileTrust{SignatureVerdict::kEmbedded, u"Fixture \"Vendor\"", u""};
    first.vulnerable = {
        {u"drivers.csv", ListFormat::kLolDriversCsv, u"id-1", u"vulnerable driver",
         MatchedBy::kFileHash, MatchedAlgorithm::kMd5},
        {u"C:\\Lists\\SiPolicy.xml", ListFormat::kSiPolicy, u"ID_DENY_OLDIO", u"",
         MatchedBy::kNameAndVersion, MatchedAlgorithm::kNone},
    };
    // A missing file: no MD5, no Hidden; a load order that is no number.
    ModuleRecord second;
    second.row = Row({u"x7", u"\\SystemRoot\\gone.sys", u"0x10000000", u"0x200000", u"", u"", u"",
                      u"", u"", u"False"});
    ExportContext context{u"HOST-\u00C5", {2026, 3, 1, 9, 5, 7}, 64};

    const std::string expected = R"({
  "tool": "Corvane Tolvessa",
  "toolVersion": ")" TOLVESSA_VERSION_DOTTED R"(",
  "formatVersion": 1,
  "computerName": "HOST-)"
                                 "\xC3\x85"
                                 R"(",
  "time": "2026-03-01T09:05:07Z",
  "bits": 64,
  "modules": [
    {
      "loadOrder": 3,
      "imageName": "C:\\Windows\\System32\\drivers\\fix.sys",
      "baseAddress": "0xFFFFF80000400000",
      "imageSize": "0x7000",
      "publisher": "Fixture Vendor",
      "description": "Fixture driver",
      "version": "1.0.0.1",
      "md5": "DA8F7315E7708A77A39F755DDD4ABB53",
      "hidden": false,
      "exists": true,
      "sha1": "{A1}",
      "sha256": "{B2}",
      "peSha1": "{C3}",
      "peSha256": "{D4}",
      "imphash": "{E5}",
      "signature": "Embedded",
      "signer": "Fixture \"Vendor\"",
      "catalog": "",
      "knownVulnerable": [
        {
          "source": "drivers.csv",
          "list": "LOLDrivers",
          "id": "id-1",
          "category": "vulnerable driver",
          "matched": "file hash MD5"
        },
        {
          "source": "C:\\Lists\\SiPolicy.xml",
          "list": "SiPolicy",
          "id": "ID_DENY_OLDIO",
          "category": null,
          "matched": "name and version"
        }
      ]
    },
    {
      "loadOrder": null,
      "imageName": "\\SystemRoot\\gone.sys",
      "baseAddress": "0x10000000",
      "imageSize": "0x200000",
      "publisher": "",
      "description": "",
      "version": "",
      "md5": "",
      "hidden": null,
      "exists": false,
      "sha1": "",
      "sha256": "",
      "peSha1": "",
      "peSha256": "",
      "imphash": "",
      "signature": null,
      "signer": "",
      "catalog": "",
      "knownVulnerable": []
    }
  ]
}
)";
    std::string filled = expected;
    for (const auto& [mark, count] : {std::pair<std::string, std::size_t>{"A1", 20},
                                      {"B2", 32},
                                      {"C3", 20},
                                      {"D4", 32},
                                      {"E5", 16}}) {
        filled.replace(filled.find("{" + mark + "}"), mark.size() + 2,
                       Repeated<std::string>(mark, count));
    }
    EXPECT_EQ(ExportJson(context, {first, second}), filled);
}

TEST(ExportsTest, JsonOfAnEmptyListAndOddLoadOrders) {
    const std::string empty = ExportJson({u"", {}, 32}, {});
    EXPECT_NE(empty.find("\"bits\": 32,"), std::string::npos);
    EXPECT_NE(empty.find("\"modules\": []\n}\n"), std::string::npos);
    EXPECT_NE(empty.find("\"time\": \"1970-01-01T00:00:00Z\""), std::string::npos);

    struct Case {
        TextView cell;
        std::string_view json;
    };
    const Case cases[] = {
        {u"0", "0"},     {u"007", "7"},    {u"4294967295", "4294967295"},     {u"", "null"},
        {u"-1", "null"}, {u"1.5", "null"}, {u"12345678901234567890", "null"},
    };
    for (const Case& c : cases) {
        ModuleRecord record;
        record.row[kLoadOrder] = Text(c.cell);
        const std::string json = ExportJson({}, {record});
        EXPECT_NE(json.find("\"loadOrder\": " + std::string(c.json) + ",\n"), std::string::npos)
            << TextToUtf8(c.cell);
    }
}

}  // namespace
}  // namespace tolvessa
