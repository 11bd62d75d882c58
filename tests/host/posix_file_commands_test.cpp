// The context-menu commands over the POSIX stand-ins, on real files in temporary folders, with
// scripted answers for the boxes and the picker.
#include "platform/host/posix_file_commands.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <deque>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "commands/file_commands.h"
#include "platform/host/openssl_trust.h"
#include "platform/host/posix_file_attributes.h"
#include "temp_dir.h"

namespace tolvessa::host {
namespace {

using tolvessa::testing::TempDir;
namespace fs = std::filesystem;

std::string ReadFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string DosAttribute(const fs::path& file) {
    char value[64] = {};
    const ssize_t n = ::getxattr(file.c_str(), "user.DOSATTRIB", value, sizeof value - 1);
    return n < 0 ? "<none>" : std::string(value, static_cast<std::size_t>(n));
}

mode_t Mode(const fs::path& file) {
    struct stat st {};
    ::stat(file.c_str(), &st);
    return st.st_mode & 07777;
}

// Answers the boxes and the picker from a script and records the messages.
class ScriptedUi : public CommandUi {
  public:
    std::vector<std::string> messages;
    std::deque<bool> answers;
    std::deque<std::optional<Text>> pickings;

    void ShowMessage(MessageKind kind, const Text& text) override {
        messages.push_back((kind == MessageKind::kWarning ? "warning: " : "information: ") +
                           TextToUtf8(text));
    }
    bool AskYesNo(const Text&) override {
        const bool yes = !answers.empty() && answers.front();
        if (!answers.empty())
            answers.pop_front();
        return yes;
    }
    std::optional<Text> BrowseForFolder(const Text&) override {
        std::optional<Text> picked = pickings.empty() ? std::nullopt : pickings.front();
        if (!pickings.empty())
            pickings.pop_front();
        return picked;
    }
    bool ShowPropertySheet(const Text&) override { return true; }
    void ShellOpen(const Text&, const Text&) override {}
    void PumpMessages() override {}
};

class ListOfPaths : public CommandList {
  public:
    std::vector<Text> paths;
    std::optional<std::size_t> selected;

    std::optional<Text> SelectedCell(DriverColumn) override {
        return selected ? std::optional<Text>(paths.at(*selected)) : std::nullopt;
    }
    std::size_t RowCount() override { return paths.size(); }
    std::optional<Text> Cell(std::size_t row, DriverColumn) override {
        return row < paths.size() ? std::optional<Text>(paths[row]) : std::nullopt;
    }
};

class PosixFileCommandsTest : public ::testing::Test {
  protected:
    PosixFileCommandsTest() { paths_.MapDrive(u'C', dir_.Path().string()); }

    bool KeepsDosAttributes() {
        const fs::path probe = dir_.Write("probe", "");
        const bool kept = ::setxattr(probe.c_str(), "user.DOSATTRIB", "0x0", 3, 0) == 0;
        fs::remove(probe);
        return kept;
    }

    TempDir dir_;
    HostPaths paths_;
    PosixFileAttributes attributes_{paths_};
    PosixFileOperations operations_{paths_, (dir_.Path() / "pending-deletions").string()};
    PlatformFiles files_{attributes_, operations_};
    ScriptedUi ui_;
    ListOfPaths list_;
    OpenSslTrustApi trust_{paths_};
    FileCommands commands_{{ui_, files_, trust_}, list_};
};

TEST_F(PosixFileCommandsTest, CopyAllNeverOverwritesAndSaysNothing) {
    dir_.Write("drivers/a.sys", "new a");
    dir_.Write("drivers/b.sys", "new b");
    dir_.Write("other/A.SYS", "other a");
    dir_.Write("out/b.sys", "old b");
    dir_.Write("out/own.sys", "own");
    fs::permissions(dir_.Path() / "drivers/a.sys", fs::perms(0640));
    list_.paths = {u"C:\\drivers\\a.sys", u"C:\\drivers\\missing.sys", u"C:\\other\\A.SYS",
                   u"C:\\drivers\\b.sys", u"C:\\out\\own.sys"};

    for (int run = 0; run < 2; ++run) {
        ui_.pickings = {u"C:\\out"};
        commands_.CopyallDriversto1Click();
        // The first of two files of the same name wins; a file in the folder stays itself; a
        // file that was there already is left alone.
        EXPECT_EQ(ReadFile(dir_.Path() / "out/a.sys"), "new a");
        EXPECT_FALSE(fs::exists(dir_.Path() / "out/A.SYS"));
        EXPECT_EQ(ReadFile(dir_.Path() / "out/b.sys"), "old b");
        EXPECT_EQ(ReadFile(dir_.Path() / "out/own.sys"), "own");
        EXPECT_FALSE(fs::exists(dir_.Path() / "out/missing.sys"));
        EXPECT_EQ(Mode(dir_.Path() / "out/a.sys"), 0640u);
    }
    EXPECT_EQ(ui_.messages, std::vector<std::string>{});
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_.Path() / "out"), fs::directory_iterator()),
              3);
}

TEST_F(PosixFileCommandsTest, CopySelectedNeverOverwrites) {
    dir_.Write("drivers/a.sys", "new a");
    dir_.Write("drivers/b.sys", "new b");
    dir_.Write("out/a.sys", "old a");
    list_.paths = {u"C:\\drivers\\a.sys", u"C:\\drivers\\b.sys"};
    list_.selected = 0;
    ui_.pickings = {u"C:\\out\\"};
    commands_.CopyselectedDriverto1Click();
    EXPECT_EQ(ReadFile(dir_.Path() / "out/a.sys"), "old a");
    list_.selected = 1;
    ui_.pickings = {u"C:\\out\\"};
    commands_.CopyselectedDriverto1Click();
    EXPECT_EQ(ReadFile(dir_.Path() / "out/b.sys"), "new b");
    EXPECT_EQ(ui_.messages, std::vector<std::string>{});
}

TEST_F(PosixFileCommandsTest, CopyNeverWritesThroughALinkAtTheDestination) {
    dir_.Write("drivers/a.sys", "new a");
    fs::create_directories(dir_.Path() / "out");
    fs::create_symlink(dir_.Path() / "elsewhere.sys", dir_.Path() / "out/a.sys");
    EXPECT_FALSE(operations_.CopyNoOverwrite(u"C:\\drivers\\a.sys", u"C:\\out\\a.sys"));
    EXPECT_FALSE(fs::exists(dir_.Path() / "elsewhere.sys"));
    // Neither a folder nor a missing file is copied.
    EXPECT_FALSE(operations_.CopyNoOverwrite(u"C:\\drivers", u"C:\\out\\drivers"));
    EXPECT_FALSE(operations_.CopyNoOverwrite(u"C:\\drivers\\none.sys", u"C:\\out\\none.sys"));
    EXPECT_FALSE(fs::exists(dir_.Path() / "out/drivers"));
    EXPECT_FALSE(fs::exists(dir_.Path() / "out/none.sys"));
}

TEST_F(PosixFileCommandsTest, DeleteFileRemovesAReadOnlyHiddenFile) {
    if (!KeepsDosAttributes())
        GTEST_SKIP() << "this file system keeps no user extended attributes";
    const fs::path file = dir_.Write("drivers/a.sys", "a");
    ::setxattr(file.c_str(), "user.DOSATTRIB", "0x6", 3, 0);
    fs::permissions(file, fs::perms(0444));
    ASSERT_EQ(attributes_.ReadAttributes(u"C:\\drivers\\a.sys").value & 0x3u, 0x3u);
    // Refused as it stands, as DeleteFileW refuses a read-only file, even to root.
    ASSERT_FALSE(operations_.RemoveFile(u"C:\\drivers\\a.sys"));

    list_.paths = {u"C:\\drivers\\a.sys"};
    list_.selected = 0;
    ui_.answers = {true, true};
    commands_.DeleteonReboot1Click();
    EXPECT_FALSE(fs::exists(file));
    commands_.DeleteonReboot1Click();
    EXPECT_EQ(ui_.messages,
              (std::vector<std::string>{"information: File has been deleted successfully.",
                                        "warning: Cannot find the file on disk."}));
}

TEST_F(PosixFileCommandsTest, AFailedDeletionPutsTheAttributesBack) {
    if (!KeepsDosAttributes())
        GTEST_SKIP() << "this file system keeps no user extended attributes";
    // A folder, which no deletion of a file removes, whoever asks.
    const fs::path folder = dir_.Path() / "drivers/folder.sys";
    dir_.Write("drivers/folder.sys/inner", "x");
    ::setxattr(folder.c_str(), "user.DOSATTRIB", "0x2", 3, 0);
    fs::permissions(folder, fs::perms(0555));

    EXPECT_FALSE(ForceDeleteFile(attributes_, operations_, u"C:\\drivers\\folder.sys"));
    EXPECT_EQ(Mode(folder), 0555u);
    EXPECT_EQ(DosAttribute(folder), "0x2");
    EXPECT_TRUE(fs::exists(folder / "inner"));
}

// Lifts the immutable flag again, so the temporary folder can be removed.
class ImmutableFolder {
  public:
    explicit ImmutableFolder(const fs::path& folder) : fd_(::open(folder.c_str(), O_RDONLY)) {
        int flags = 0;
        set_ = fd_ >= 0 && ::ioctl(fd_, FS_IOC_GETFLAGS, &flags) == 0 &&
               (flags |= FS_IMMUTABLE_FL, ::ioctl(fd_, FS_IOC_SETFLAGS, &flags) == 0);
    }
    ~ImmutableFolder() {
        int flags = 0;
        if (set_ && ::ioctl(fd_, FS_IOC_GETFLAGS, &flags) == 0) {
            flags &= ~FS_IMMUTABLE_FL;
            ::ioctl(fd_, FS_IOC_SETFLAGS, &flags);
        }
        if (fd_ >= 0)
            ::close(fd_);
    }
    ImmutableFolder(const ImmutableFolder&) = delete;
    ImmutableFolder& operator=(const ImmutableFolder&) = delete;
    bool Set() const { return set_; }

  private:
    int fd_;
    bool set_ = false;
};

TEST_F(PosixFileCommandsTest, AFileThatCannotBeUnlinkedGetsItsAttributesBack) {
    if (!KeepsDosAttributes())
        GTEST_SKIP() << "this file system keeps no user extended attributes";
    const fs::path file = dir_.Write("locked/a.sys", "a");
    ::setxattr(file.c_str(), "user.DOSATTRIB", "0x2", 3, 0);
    fs::permissions(file, fs::perms(0444));
    // An immutable folder: no entry in it can be removed, not even by root. The file itself can
    // still change its permissions and attributes.
    ImmutableFolder locked(dir_.Path() / "locked");
    if (!locked.Set())
        GTEST_SKIP() << "cannot make a folder immutable here (needs CAP_LINUX_IMMUTABLE, ext4)";

    list_.paths = {u"C:\\locked\\a.sys"};
    list_.selected = 0;
    ui_.answers = {true};
    commands_.DeleteonReboot1Click();
    EXPECT_EQ(ui_.messages, std::vector<std::string>{"warning: Failed to delete the file."});
    EXPECT_TRUE(fs::exists(file));
    EXPECT_EQ(Mode(file), 0444u);
    EXPECT_EQ(DosAttribute(file), "0x2");
}

TEST_F(PosixFileCommandsTest, SetAttributesKeepsThemTheWayWineReadsThem) {
    if (!KeepsDosAttributes())
        GTEST_SKIP() << "this file system keeps no user extended attributes";
    dir_.Write("a.sys", "a");
    dir_.Write(".dotted.sys", "d");
    EXPECT_TRUE(operations_.SetAttributes(u"C:\\a.sys", 0x7));
    EXPECT_EQ(attributes_.ReadAttributes(u"C:\\a.sys").value, 0x20u | 0x1 | 0x2 | 0x4);
    EXPECT_EQ(DosAttribute(dir_.Path() / "a.sys"), "0x6");
    EXPECT_TRUE(operations_.SetAttributes(u"C:\\a.sys", 0));
    EXPECT_EQ(attributes_.ReadAttributes(u"C:\\a.sys").value, 0x20u);
    EXPECT_EQ(DosAttribute(dir_.Path() / "a.sys"), "<none>");
    // A dot-file is hidden by its name until told otherwise.
    ASSERT_EQ(attributes_.ReadAttributes(u"C:\\.dotted.sys").value & 0x2u, 0x2u);
    EXPECT_TRUE(operations_.SetAttributes(u"C:\\.dotted.sys", 0));
    EXPECT_EQ(attributes_.ReadAttributes(u"C:\\.dotted.sys").value & 0x2u, 0u);
    EXPECT_FALSE(operations_.SetAttributes(u"C:\\missing.sys", 0));
}

TEST_F(PosixFileCommandsTest, DeleteOnRebootRecordsEachRequestAndLeavesTheFile) {
    const fs::path file = dir_.Write("drivers/a.sys", "a");
    list_.paths = {u"C:\\drivers\\a.sys", u"C:\\drivers\\gone.sys"};
    list_.selected = 0;
    ui_.answers = {true, true, true};
    commands_.DeleteFileonReboot1Click();
    commands_.DeleteFileonReboot1Click();
    list_.selected = 1;
    commands_.DeleteFileonReboot1Click();
    EXPECT_TRUE(fs::exists(file));
    EXPECT_EQ(ReadFile(dir_.Path() / "pending-deletions"),
              "\\??\\C:\\drivers\\a.sys\n\n\\??\\C:\\drivers\\a.sys\n\n");
    EXPECT_EQ(ui_.messages,
              (std::vector<std::string>{"information: File will be deleted on the next reboot.",
                                        "information: File will be deleted on the next reboot.",
                                        "warning: Cannot find the file on disk."}));
}

TEST_F(PosixFileCommandsTest, DeleteOnRebootFailsWhenTheRecordCannotBeWritten) {
    dir_.Write("drivers/a.sys", "a");
    PosixFileOperations nowhere(paths_, (dir_.Path() / "no-such-folder/pending").string());
    EXPECT_FALSE(nowhere.MarkForDeletionAtReboot(u"C:\\drivers\\a.sys"));
    EXPECT_FALSE(operations_.MarkForDeletionAtReboot(u"C:\\drivers\\gone.sys"));
    EXPECT_FALSE(fs::exists(dir_.Path() / "pending-deletions"));
}

TEST_F(PosixFileCommandsTest, FolderExistsOnDisk) {
    dir_.Write("drivers/a.sys", "a");
    fs::create_directory_symlink(dir_.Path() / "drivers", dir_.Path() / "junction");
    fs::create_directory_symlink(dir_.Path() / "gone", dir_.Path() / "dangling");
    fs::create_symlink(dir_.Path() / "drivers/a.sys", dir_.Path() / "filelink.sys");
    const auto exists = [&](const char16_t* path) {
        return FolderExistsOnDisk(attributes_, operations_, path);
    };
    EXPECT_TRUE(exists(u"C:\\drivers"));
    EXPECT_TRUE(exists(u"C:\\DRIVERS\\"));
    EXPECT_TRUE(exists(u"C:\\junction\\"));
    EXPECT_FALSE(exists(u"C:\\dangling\\"));
    EXPECT_FALSE(exists(u"C:\\filelink.sys"));
    EXPECT_FALSE(exists(u"C:\\drivers\\a.sys"));
    EXPECT_FALSE(exists(u"C:\\drivers\\a.sys\\"));
    EXPECT_FALSE(exists(u"C:\\nowhere\\"));
    EXPECT_FALSE(exists(u""));
    EXPECT_FALSE(exists(u"Q:\\"));
}

}  // namespace
}  // namespace tolvessa::host
