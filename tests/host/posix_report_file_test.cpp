#include "platform/host/posix_report_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>

#include "report/driver_report.h"
#include "report/exports.h"
#include "temp_dir.h"
#include "tests/unit/fake_inventory.h"

namespace tolvessa::host {
namespace {

using tolvessa::testing::TempDir;

std::string ReadAll(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A list with one row, made by the scan over an inventory that holds one file at `path`.
DriverList OneRowList(const Text& path) {
    tolvessa::testing::FakeInventory inventory;
    inventory.files[path] = {false, u"Acme", u"", u"1.0", "a"};
    inventory.AddEntry(TextToUtf8(path), 3, 0x1000, 0x20);
    DriverList list;
    inventory.ScanInto(list);
    return list;
}

class PosixReportFileTest : public ::testing::Test {
  protected:
    PosixReportFileTest() { paths_.MapDrive(u'C', dir_.Path().string()); }

    bool Write(const Text& name) {
        return WriteDriverReport(api_, name, list_, u"T", u"H", u"  1 Modules Loaded ");
    }

    TempDir dir_;
    HostPaths paths_;
    PosixReportFile api_{paths_};
    DriverList list_ = OneRowList(u"C:\\Treiber\\ger\u00E4t.sys");
};

const std::string kExpected =
    "\xEF\xBB\xBF"
    "T\r\nH\r\n\r\n1 Modules Loaded\r\n\r\n\r\n"
    "Load Order: 3\r\n"
    "Image Name: C:\\Treiber\\ger\xC3\xA4t.sys\r\n"
    "Base Address: 0x00001000\r\n"
    "Image Size: 0x20\r\n"
    "Publisher: Acme\r\n"
    "Description: \r\n"
    "Version: 1.0\r\n"
    "MD5 Hash: 0CC175B9C0F1B6A831C399E269772661\r\n"
    "Hidden: False\r\n"
    "Exists: True\r\n";

TEST_F(PosixReportFileTest, WritesBomAndUtf8WithCrLf) {
    EXPECT_TRUE(Write(u"C:\\out.log"));
    EXPECT_EQ(ReadAll(dir_.Path() / "out.log"), kExpected);
}

TEST_F(PosixReportFileTest, ReplacesALongerFile) {
    const auto file = dir_.Write("out.log", std::string(10000, 'x'));
    EXPECT_TRUE(Write(u"C:\\OUT.LOG"));  // the existing name, found without regard to case
    EXPECT_EQ(ReadAll(file), kExpected);
}

TEST_F(PosixReportFileTest, RelativeNameStaysInTheCurrentDirectory) {
    const auto before = std::filesystem::current_path();
    std::filesystem::current_path(dir_.Path());
    const bool written = Write(u"rel.log");
    std::filesystem::current_path(before);
    EXPECT_TRUE(written);
    EXPECT_EQ(ReadAll(dir_.Path() / "rel.log"), kExpected);
}

TEST_F(PosixReportFileTest, NamesThatLeadNowhereWriteNothing) {
    EXPECT_FALSE(Write(u""));
    EXPECT_FALSE(Write(u"C:\\missing\\out.log"));
    EXPECT_FALSE(Write(u"Q:\\out.log"));  // unmapped drive
    std::filesystem::create_directory(dir_.Path() / "folder");
    EXPECT_FALSE(Write(u"C:\\folder"));
    EXPECT_TRUE(std::filesystem::is_directory(dir_.Path() / "folder"));
    EXPECT_FALSE(std::filesystem::exists(dir_.Path() / "missing"));
    EXPECT_TRUE(std::filesystem::is_empty(dir_.Path() / "folder"));
}

TEST_F(PosixReportFileTest, FileLockedElsewhereIsLeftAsItIs) {
    const auto file = dir_.Write("locked.log", "old report");
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    EXPECT_FALSE(Write(u"C:\\locked.log"));
    EXPECT_EQ(ReadAll(file), "old report");
    ::close(fd);
    // Once the other side lets go, the same call succeeds.
    EXPECT_TRUE(Write(u"C:\\locked.log"));
    EXPECT_EQ(ReadAll(file), kExpected);
}

TEST_F(PosixReportFileTest, OpenReportFileKeepsOthersOut) {
    const std::unique_ptr<ReportFile> first = api_.CreateAlways(u"C:\\held.log");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(api_.CreateAlways(u"C:\\held.log"), nullptr);
    EXPECT_TRUE(first->Write("abc"));
    EXPECT_EQ(ReadAll(dir_.Path() / "held.log"), "abc");
}

// The access mode of this process's descriptor open on `file` (O_RDONLY, O_WRONLY or O_RDWR), or
// -1 when none is.
int OpenAccessMode(const std::filesystem::path& file) {
    const auto target = std::filesystem::canonical(file);
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        if (std::filesystem::read_symlink(entry.path(), error) != target || error)
            continue;
        std::ifstream info("/proc/self/fdinfo/" + entry.path().filename().string());
        for (std::string line; std::getline(info, line);) {
            if (line.starts_with("flags:"))
                return static_cast<int>(std::stoul(line.substr(6), nullptr, 8) & O_ACCMODE);
        }
    }
    return -1;
}

// The text report is open for reading and writing, the exports for writing only.
TEST_F(PosixReportFileTest, ExportsAreOpenForWritingOnly) {
    const std::unique_ptr<ReportFile> report = api_.CreateAlways(u"C:\\report.log");
    ASSERT_NE(report, nullptr);
    EXPECT_EQ(OpenAccessMode(dir_.Path() / "report.log"), O_RDWR);
    const std::unique_ptr<ReportFile> exported = api_.CreateWriteOnly(u"C:\\PC.csv");
    ASSERT_NE(exported, nullptr);
    EXPECT_EQ(OpenAccessMode(dir_.Path() / "PC.csv"), O_WRONLY);
    // Held like the report: nobody else gets it while it is open.
    EXPECT_EQ(api_.CreateWriteOnly(u"C:\\PC.csv"), nullptr);
    EXPECT_EQ(api_.CreateAlways(u"C:\\PC.csv"), nullptr);
    EXPECT_TRUE(exported->Write("a,b"));
    EXPECT_EQ(ReadAll(dir_.Path() / "PC.csv"), "a,b");

    // An export replaces what was there.
    const auto file = dir_.Write("PC.json", "an older and much longer content");
    EXPECT_TRUE(WriteExportFile(api_, u"C:\\PC.json", "{}\n"));
    EXPECT_EQ(ReadAll(file), "{}\n");
}

TEST_F(PosixReportFileTest, EmptyListCreatesNoFile) {
    const DriverList empty;
    EXPECT_FALSE(WriteDriverReport(api_, u"C:\\none.log", empty, u"T", u"H", u"0"));
    EXPECT_FALSE(std::filesystem::exists(dir_.Path() / "none.log"));
    const auto file = dir_.Write("kept.log", "kept");
    EXPECT_FALSE(WriteDriverReport(api_, u"C:\\kept.log", empty, u"T", u"H", u"0"));
    EXPECT_EQ(ReadAll(file), "kept");
}

}  // namespace
}  // namespace tolvessa::host
