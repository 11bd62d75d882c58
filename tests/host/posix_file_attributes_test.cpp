#include "platform/host/posix_file_attributes.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "temp_dir.h"

namespace tolvessa::host {
namespace {

using tolvessa::testing::TempDir;

class PosixFileQueriesTest : public ::testing::Test {
  protected:
    PosixFileQueriesTest() {
        paths_.MapDrive(u'C', dir_.Path().string());
        dir_.Write("plain.sys", "data");
        dir_.Write(".dotted.sys", "data");
        dir_.Write("folder/inner.sys", "data");
        std::filesystem::create_symlink(dir_.Path() / "plain.sys", dir_.Path() / "link.sys");
        std::filesystem::create_symlink(dir_.Path() / "folder", dir_.Path() / "dirlink");
        std::filesystem::create_symlink(dir_.Path() / "none.sys", dir_.Path() / "dangling.sys");
        ::mkfifo((dir_.Path() / "pipe.sys").c_str(), 0600);
    }

    bool Exists(const char16_t* path) { return FileExistsOnDisk(api_, path); }
    bool Hidden(const char16_t* path) { return IsFileHidden(api_, path); }

    TempDir dir_;
    HostPaths paths_;
    PosixFileAttributes api_{paths_};
};

TEST_F(PosixFileQueriesTest, ExistsForFilesAndFileLinksOnly) {
    EXPECT_TRUE(Exists(u"C:\\plain.sys"));
    EXPECT_TRUE(Exists(u"C:\\PLAIN.SYS"));
    EXPECT_TRUE(Exists(u"C:\\folder\\inner.sys"));
    EXPECT_TRUE(Exists(u"C:\\link.sys"));
    EXPECT_FALSE(Exists(u"C:\\folder"));
    EXPECT_FALSE(Exists(u"C:\\dirlink"));
    EXPECT_FALSE(Exists(u"C:\\dangling.sys"));
    EXPECT_FALSE(Exists(u"C:\\missing.sys"));
    EXPECT_FALSE(Exists(u"C:\\plain.sys\\below"));
    EXPECT_FALSE(Exists(u"C:\\pipe.sys"));  // never opened, never hashed
    EXPECT_FALSE(Exists(u"Q:\\plain.sys"));
    EXPECT_FALSE(Exists(u""));
}

TEST_F(PosixFileQueriesTest, ReportsWindowsErrorsForMissingPaths) {
    EXPECT_EQ(api_.ReadAttributes(u"C:\\missing.sys").lastError, 2u);
    EXPECT_EQ(api_.ReadAttributes(u"C:\\plain.sys\\below").lastError, 3u);
    EXPECT_EQ(api_.ReadAttributes(u"C:\\plain.sys").value & 0x10u, 0u);
    EXPECT_EQ(api_.ReadAttributes(u"C:\\link.sys").value & 0x400u, 0x400u);
    EXPECT_EQ(api_.ReadAttributes(u"C:\\dirlink").value & 0x410u, 0x410u);
}

TEST_F(PosixFileQueriesTest, HiddenFromDotNameOrDosAttribute) {
    EXPECT_FALSE(Hidden(u"C:\\plain.sys"));
    EXPECT_TRUE(Hidden(u"C:\\.dotted.sys"));
    EXPECT_FALSE(Hidden(u"C:\\missing.sys"));

    // The DOS attribute, where the file system keeps one, decides over the name.
    const std::string plain = (dir_.Path() / "plain.sys").string();
    const std::string dotted = (dir_.Path() / ".dotted.sys").string();
    if (::setxattr(plain.c_str(), "user.DOSATTRIB", "0x22", 4, 0) != 0) {
        GTEST_SKIP() << "this file system keeps no user extended attributes";
    }
    ::setxattr(dotted.c_str(), "user.DOSATTRIB", "0x20", 4, 0);
    EXPECT_TRUE(Hidden(u"C:\\plain.sys"));
    EXPECT_FALSE(Hidden(u"C:\\.dotted.sys"));
}

TEST_F(PosixFileQueriesTest, DirectorySearchMatchesWithoutCase) {
    EXPECT_EQ(api_.FindAttributes(u"C:\\Plain.Sys"), std::optional<std::uint32_t>(0x20));
    EXPECT_EQ(api_.FindAttributes(u"C:\\FOLDER"), std::optional<std::uint32_t>(0x10));
    EXPECT_EQ(api_.FindAttributes(u"C:\\pipe.sys"), std::nullopt);
    EXPECT_EQ(api_.FindAttributes(u"C:\\missing.sys"), std::nullopt);
}

}  // namespace
}  // namespace tolvessa::host
