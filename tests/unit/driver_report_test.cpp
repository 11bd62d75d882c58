#include "report/driver_report.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "report/exports.h"
#include "report/report_file.h"
#include "tests/unit/fake_inventory.h"
#include "tolvessa_product.h"

namespace tolvessa {
namespace {

// One module as the scan should list it; a file that does not exist leaves its hash and hidden
// cells empty.
struct FakeDriver {
    std::uint16_t order = 0;
    std::uint32_t base = 0;
    std::uint32_t size = 0;
    Text path;
    Text company, description, version;
    std::string content;  // what the file holds: its digest is the hash cell
    bool hidden = false;
    bool exists = true;
};

// A list filled by the real scan over an inventory that holds the drivers above. The hash is
// the digest of `content`; a driver whose file does not exist is listed by its path, its
// version strings still answered.
DriverList MakeList(const std::vector<FakeDriver>& drivers) {
    testing::FakeInventory inventory;
    inventory.paths.systemDirectory = u"C:\\none";
    for (const FakeDriver& d : drivers) {
        inventory.files[d.path] = {d.hidden,  d.company, d.description,
                                   d.version, d.content, d.exists};
        inventory.AddEntry(TextToUtf8(d.path), d.order, d.base, d.size);
    }
    DriverList list;
    inventory.ScanInto(list);
    return list;
}

const FakeDriver kKernel{4,
                         0x80400000,
                         0x1F3000,
                         u"C:\\Windows\\system32\\ntoskrnl.exe",
                         u"Microsoft Corporation",
                         u"NT Kernel & System",
                         u"6.1.7601.17514",
                         "a",  // MD5 0CC175B9C0F1B6A831C399E269772661
                         false,
                         true};
// No version strings and no file: the empty cells keep their labels.
const FakeDriver kGone{17, 0x9A000000, 0x8000, u"gone.sys", u"", u"", u"", "", false, false};

constexpr TextView kTitle = TOLVESSA_U(TOLVESSA_TITLE);
constexpr TextView kHost = TOLVESSA_U(TOLVESSA_HOST_NAME);

const std::vector<Text> kKernelBlock = {
    u"Load Order: 4",
    u"Image Name: C:\\Windows\\system32\\ntoskrnl.exe",
    u"Base Address: 0x80400000",
    u"Image Size: 0x1F3000",
    u"Publisher: Microsoft Corporation",
    u"Description: NT Kernel & System",
    u"Version: 6.1.7601.17514",
    u"MD5 Hash: 0CC175B9C0F1B6A831C399E269772661",
    u"Hidden: False",
    u"Exists: True",
};
const std::vector<Text> kGoneBlock = {
    u"Load Order: 17",     u"Image Name: gone.sys", u"Base Address: 0x9A000000",
    u"Image Size: 0x8000", u"Publisher: ",          u"Description: ",
    u"Version: ",          u"MD5 Hash: ",           u"Hidden: ",
    u"Exists: False",
};

std::vector<Text> Header(const Text& status) {
    return {Text(kTitle), Text(kHost), u"", status, u"", u""};
}

std::vector<Text> Concat(std::initializer_list<std::vector<Text>> parts) {
    std::vector<Text> all;
    for (const auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

TEST(DriverReportTest, OneRowLogTextEndsWithTheExistsLine) {
    const DriverList list = MakeList({kKernel});
    const Text text = JoinReportLines(
        DriverReportLines(list, kTitle, kHost, u"1 Modules Loaded", ReportStyle::kLog));
    EXPECT_EQ(TextToUtf8(text),
              "Corvane Tolvessa\r\n"
              "www.corvane.example\r\n"
              "\r\n"
              "1 Modules Loaded\r\n"
              "\r\n"
              "\r\n"
              "Load Order: 4\r\n"
              "Image Name: C:\\Windows\\system32\\ntoskrnl.exe\r\n"
              "Base Address: 0x80400000\r\n"
              "Image Size: 0x1F3000\r\n"
              "Publisher: Microsoft Corporation\r\n"
              "Description: NT Kernel & System\r\n"
              "Version: 6.1.7601.17514\r\n"
              "MD5 Hash: 0CC175B9C0F1B6A831C399E269772661\r\n"
              "Hidden: False\r\n"
              "Exists: True\r\n");
}

TEST(DriverReportTest, OneRowExportAddsOneEmptyLineAfterTheBlock) {
    const DriverList list = MakeList({kKernel});
    const auto exported = DriverReportLines(list, kTitle, kHost, u"x", ReportStyle::kExport);
    EXPECT_EQ(exported, Concat({Header(u"x"), kKernelBlock, {u""}}));
    EXPECT_EQ(exported.size(), 17u);
    EXPECT_EQ(DriverReportLines(list, kTitle, kHost, u"x", ReportStyle::kLog).size(), 16u);
    const Text text = JoinReportLines(exported);
    EXPECT_TRUE(text.ends_with(u"Exists: True\r\n\r\n"));
    EXPECT_FALSE(text.ends_with(u"\r\n\r\n\r\n"));
}

TEST(DriverReportTest, TwoRowsAreSeparatedByOneEmptyLineInBothStyles) {
    const DriverList list = MakeList({kKernel, kGone});
    ASSERT_EQ(list.Count(), 2u);
    EXPECT_EQ(DriverReportLines(list, kTitle, kHost, u"2", ReportStyle::kLog),
              Concat({Header(u"2"), kKernelBlock, {u""}, kGoneBlock}));
    EXPECT_EQ(DriverReportLines(list, kTitle, kHost, u"2", ReportStyle::kExport),
              Concat({Header(u"2"), kKernelBlock, {u""}, kGoneBlock, {u""}}));
}

TEST(DriverReportTest, EmptyListGivesTheHeaderAloneInBothStyles) {
    const DriverList list;
    EXPECT_EQ(DriverReportLines(list, kTitle, kHost, u"0", ReportStyle::kLog), Header(u"0"));
    EXPECT_EQ(DriverReportLines(list, kTitle, kHost, u"0", ReportStyle::kExport), Header(u"0"));
}

struct StatusCase {
    const char* name;
    const char16_t* status;
    const char16_t* line;
};

class StatusLineTest : public ::testing::TestWithParam<StatusCase> {};

TEST_P(StatusLineTest, TrimsBlanksAtBothEndsOnly) {
    const DriverList list;
    const auto lines = DriverReportLines(list, u"T", u"H", GetParam().status, ReportStyle::kLog);
    EXPECT_EQ(lines, (std::vector<Text>{u"T", u"H", u"", GetParam().line, u"", u""}));
}

INSTANTIATE_TEST_SUITE_P(
    Table, StatusLineTest,
    ::testing::Values(StatusCase{"leading_blanks", u"   57 Modules Loaded", u"57 Modules Loaded"},
                      StatusCase{"controls_both_ends", u"\t\r\n57  Modules Loaded \x01\x1F ",
                                 u"57  Modules Loaded"},
                      StatusCase{"empty", u"", u""}, StatusCase{"all_blank", u" \t \r\n ", u""},
                      StatusCase{"non_ascii_kept", u"\u00A0x\u00A0", u"\u00A0x\u00A0"}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(DriverReportTest, JoinPutsCrLfAfterEveryLine) {
    EXPECT_EQ(JoinReportLines({u"a", u"", u"b"}), u"a\r\n\r\nb\r\n");
    EXPECT_EQ(JoinReportLines({}), u"");
}

TEST(EntireLineTextTest, TenLinesWithNineLineBreaks) {
    const DriverList list = MakeList({kKernel, kGone});
    const Text text = EntireLineText(list.Row(1));
    EXPECT_EQ(text,
              u"Load Order: 17\r\nImage Name: gone.sys\r\nBase Address: 0x9A000000\r\n"
              u"Image Size: 0x8000\r\nPublisher: \r\nDescription: \r\nVersion: \r\n"
              u"MD5 Hash: \r\nHidden: \r\nExists: False");
    std::size_t breaks = 0;
    for (std::size_t at = text.find(u"\r\n"); at != Text::npos; at = text.find(u"\r\n", at + 2))
        ++breaks;
    EXPECT_EQ(breaks, 9u);
}

struct ClipboardCase {
    const char* name;
    ClipboardItem item;
    const char16_t* text;
};

class ClipboardTextTest : public ::testing::TestWithParam<ClipboardCase> {};

TEST_P(ClipboardTextTest, TakesTheCellUnchanged) {
    FakeDriver padded = kKernel;
    padded.company = u" Acme  Corp ";
    padded.description = u"  NT  ";
    const DriverList list = MakeList({padded});
    EXPECT_EQ(ClipboardText(list.Row(0), GetParam().item), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ClipboardTextTest,
    ::testing::Values(ClipboardCase{"file_name", ClipboardItem::kFileName,
                                    u"C:\\Windows\\system32\\ntoskrnl.exe"},
                      ClipboardCase{"address", ClipboardItem::kAddress, u"0x80400000"},
                      ClipboardCase{"publisher", ClipboardItem::kPublisher, u" Acme  Corp "},
                      ClipboardCase{"description", ClipboardItem::kDescription, u"  NT  "},
                      ClipboardCase{"md5", ClipboardItem::kMd5Hash,
                                    u"0CC175B9C0F1B6A831C399E269772661"}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(ClipboardTextTest, EntireLineIsTheWholeBlock) {
    const DriverList list = MakeList({kKernel});
    EXPECT_EQ(ClipboardText(list.Row(0), ClipboardItem::kEntireLine), EntireLineText(list.Row(0)));
    EXPECT_TRUE(EntireLineText(list.Row(0)).starts_with(u"Load Order: 4\r\nImage Name: C:\\"));
    EXPECT_TRUE(EntireLineText(list.Row(0)).ends_with(u"\r\nHidden: False\r\nExists: True"));
}

// Records every call, in order; each step can be made to fail.
class FakeReportFileApi : public ReportFileApi {
  public:
    std::vector<std::string> calls;
    std::string written;
    bool createFails = false;
    bool convertFails = false;
    bool writeFails = false;
    bool utf8 = true;

    class File : public ReportFile {
      public:
        explicit File(FakeReportFileApi& api) : api_(api) {}
        ~File() override { api_.calls.push_back("close"); }
        bool Write(std::string_view bytes) override {
            api_.calls.push_back("write");
            if (api_.writeFails)
                return false;
            api_.written.append(bytes);
            return true;
        }

      private:
        FakeReportFileApi& api_;
    };

    std::unique_ptr<ReportFile> CreateAlways(const Text& fileName) override {
        calls.push_back("create " + TextToUtf8(fileName));
        if (createFails)
            return nullptr;
        return std::make_unique<File>(*this);
    }
    std::unique_ptr<ReportFile> CreateWriteOnly(const Text& fileName) override {
        calls.push_back("create write-only " + TextToUtf8(fileName));
        if (createFails)
            return nullptr;
        return std::make_unique<File>(*this);
    }
    // UTF-8, or Latin-1 with '?' for what it lacks.
    std::optional<std::string> ToAnsi(TextView text) override {
        calls.push_back("convert");
        if (convertFails)
            return std::nullopt;
        if (utf8)
            return TextToUtf8(text);
        std::string bytes;
        for (char16_t c : text)
            bytes.push_back(c < 0x100 ? static_cast<char>(c) : '?');
        return bytes;
    }
    bool AnsiIsUtf8() override { return utf8; }
};

FakeDriver NonAsciiDriver() {
    FakeDriver d = kGone;
    d.path = u"C:\\Treiber\\ger\u00E4\u4E2D.sys";
    return d;
}

// The log of NonAsciiDriver() with title "T", host "H", the image name's two non-ASCII
// characters in the given bytes.
std::string NonAsciiReport(const std::string& encodedChars) {
    return "T\r\nH\r\n\r\n1 Modules Loaded\r\n\r\n\r\n"
           "Load Order: 17\r\nImage Name: C:\\Treiber\\ger" +
           encodedChars +
           ".sys\r\nBase Address: 0x9A000000\r\nImage Size: 0x8000\r\nPublisher: \r\n"
           "Description: \r\nVersion: \r\nMD5 Hash: \r\nHidden: \r\nExists: False\r\n";
}

TEST(WriteDriverReportTest, Utf8CodePageWritesBomAndUtf8Text) {
    FakeReportFileApi api;
    const DriverList list = MakeList({NonAsciiDriver()});
    EXPECT_TRUE(WriteDriverReport(api, u"C:\\out.log", list, u"T", u"H", u" 1 Modules Loaded "));
    EXPECT_EQ(api.written, "\xEF\xBB\xBF" + NonAsciiReport("\xC3\xA4\xE4\xB8\xAD"));
}

TEST(WriteDriverReportTest, OtherCodePageWritesItsBytesWithoutBom) {
    FakeReportFileApi api;
    api.utf8 = false;
    const DriverList list = MakeList({NonAsciiDriver()});
    EXPECT_TRUE(WriteDriverReport(api, u"C:\\out.log", list, u"T", u"H", u"1 Modules Loaded"));
    EXPECT_EQ(api.written, NonAsciiReport("\xE4?"));
}

TEST(WriteDriverReportTest, EmptyListTouchesNoFile) {
    FakeReportFileApi api;
    const DriverList list;
    EXPECT_FALSE(WriteDriverReport(api, u"C:\\out.log", list, u"T", u"H", u"0"));
    EXPECT_TRUE(api.calls.empty());
}

TEST(WriteDriverReportTest, CreatesBeforeConvertingAndWritesOnce) {
    FakeReportFileApi api;
    const DriverList list = MakeList({kKernel, kGone, kKernel});
    EXPECT_TRUE(WriteDriverReport(api, u"C:\\out.log", list, kTitle, kHost, u"3"));
    EXPECT_EQ(api.calls,
              (std::vector<std::string>{"create C:\\out.log", "convert", "write", "close"}));
    const std::string expected =
        "\xEF\xBB\xBF" +
        TextToUtf8(JoinReportLines(
            Concat({Header(u"3"), kKernelBlock, {u""}, kGoneBlock, {u""}, kKernelBlock})));
    EXPECT_EQ(api.written, expected);
}

struct FailureCase {
    const char* name;
    bool createFails;
    bool convertFails;
    bool writeFails;
    std::vector<std::string> calls;
};

class WriteReportFailureTest : public ::testing::TestWithParam<FailureCase> {};

// The file is created first; a failure stops what follows, and a file once created is closed.
TEST_P(WriteReportFailureTest, StopsSilentlyAtTheFailingStep) {
    const FailureCase& c = GetParam();
    FakeReportFileApi api;
    api.createFails = c.createFails;
    api.convertFails = c.convertFails;
    api.writeFails = c.writeFails;
    EXPECT_FALSE(WriteReportText(api, u"out.log", u"text"));
    EXPECT_EQ(api.calls, c.calls);
    EXPECT_EQ(api.written, "");
}

INSTANTIATE_TEST_SUITE_P(
    Table, WriteReportFailureTest,
    ::testing::Values(
        FailureCase{"create", true, false, false, {"create out.log"}},
        FailureCase{"convert", false, true, false, {"create out.log", "convert", "close"}},
        FailureCase{"write", false, false, true, {"create out.log", "convert", "write", "close"}}),
    [](const auto& param) { return std::string(param.param.name); });

// The exports are opened for writing only (the text report above for reading and writing), and
// written as they are, in one write.
TEST(WriteExportFileTest, OpensForWritingOnly) {
    FakeReportFileApi api;
    EXPECT_TRUE(WriteExportFile(api, u"\\\\server\\drivers$\\PC.csv", "a,b\r\n"));
    EXPECT_EQ(api.calls, (std::vector<std::string>{"create write-only \\\\server\\drivers$\\PC.csv",
                                                   "write", "close"}));
    EXPECT_EQ(api.written, "a,b\r\n");

    FakeReportFileApi refused;
    refused.createFails = true;
    EXPECT_FALSE(WriteExportFile(refused, u"PC.json", "{}"));
    EXPECT_EQ(refused.calls, (std::vector<std::string>{"create write-only PC.json"}));
    FakeReportFileApi unnamed;
    EXPECT_FALSE(WriteExportFile(unnamed, u"", "{}"));
    EXPECT_TRUE(unnamed.calls.empty());
}

}  // namespace
}  // namespace tolvessa
