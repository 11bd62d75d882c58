#include "inventory/kernel_path.h"

#include <gtest/gtest.h>

namespace tolvessa {
namespace {

// ASCII upper-casing, as CharUpperBuffW does for these paths.
Text AsciiUpper(TextView text) {
    Text out(text);
    for (char16_t& c : out) {
        if (c >= u'a' && c <= u'z')
            c = static_cast<char16_t>(c - 32);
    }
    return out;
}

// Fixed directories, ASCII upper-casing.
class FixedPaths : public PathApi {
  public:
    explicit FixedPaths(Text dir, Text systemDir = u"C:\\Windows\\system32")
        : dir_(std::move(dir)), systemDir_(std::move(systemDir)) {}
    Text WindowsDirectory() override { return dir_; }
    Text SystemDirectory() override { return systemDir_; }
    Text UpperCase(TextView text) override { return AsciiUpper(text); }

  private:
    Text dir_;
    Text systemDir_;
};

struct PathCase {
    const char16_t* windowsDir;
    const char16_t* kernelPath;
    const char16_t* expected;
};

class ResolveKernelPathTest : public ::testing::TestWithParam<PathCase> {};

TEST_P(ResolveKernelPathTest, Resolves) {
    const PathCase& c = GetParam();
    FixedPaths paths(c.windowsDir);
    EXPECT_EQ(ResolveKernelPath(paths, c.kernelPath), Text(c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Table, ResolveKernelPathTest,
    ::testing::Values(
        PathCase{u"C:\\Windows", u"\\SystemRoot\\system32\\ntoskrnl.exe",
                 u"C:\\Windows\\system32\\ntoskrnl.exe"},
        PathCase{u"C:\\Windows", u"\\systemroot\\system32\\DRIVERS\\x.sys",
                 u"C:\\Windows\\system32\\DRIVERS\\x.sys"},
        PathCase{u"C:\\Windows", u"\\??\\C:\\Windows\\system32\\drivers\\foo.sys",
                 u"C:\\Windows\\system32\\drivers\\foo.sys"},
        PathCase{u"C:\\Windows", u"\\??\\D:\\Tools\\drv.sys", u"D:\\Tools\\drv.sys"},
        PathCase{u"C:\\Windows", u"\\Windows\\System32\\Drivers\\Wdf01000.sys",
                 u"C:\\Windows\\System32\\Drivers\\Wdf01000.sys"},
        PathCase{u"C:\\Windows", u"System32\\Drivers\\foo.sys", u"System32\\Drivers\\foo.sys"},
        PathCase{u"C:\\Windows", u"foo.sys", u"foo.sys"},
        PathCase{u"C:\\Windows", u"\\SystemRoot\\\\system32\\\\drivers\\\\x.sys",
                 u"C:\\Windows\\system32\\drivers\\x.sys"},
        PathCase{u"C:\\Windows", u"\\SystemRoot\\a\\SystemRoot\\b.sys",
                 u"C:\\Windows\\a\\SystemRoot\\b.sys"},
        PathCase{u"C:\\Windows", u"\\Device\\HarddiskVolume2\\x.sys",
                 u"C:\\Device\\HarddiskVolume2\\x.sys"},
        PathCase{u"C:\\Windows", u"", u""},
        PathCase{u"D:\\WINNT", u"\\SystemRoot\\system32\\x.sys", u"D:\\WINNT\\system32\\x.sys"},
        PathCase{u"C:\\", u"\\SystemRoot\\system32\\x.sys", u"C:\\system32\\x.sys"},
        // Runs of backslashes: two passes of pair-wise halving.
        PathCase{u"C:\\Windows", u"a\\\\\\\\b", u"a\\b"},            // four become one
        PathCase{u"C:\\Windows", u"a\\\\\\b", u"a\\b"},              // three become one
        PathCase{u"C:\\Windows", u"a\\\\\\\\\\\\\\\\b", u"a\\\\b"},  // eight keep two
        // "\?\" is removed after the doubled backslashes are halved.
        PathCase{u"C:\\Windows", u"\\\\?\\C:\\x.sys", u"C:C:\\x.sys"},
        PathCase{u"C:\\Windows", u"x\\?\\y", u"xy"},
        // Every "\??\" goes, wherever it stands.
        PathCase{u"C:\\Windows", u"\\??\\C:\\a\\??\\b.sys", u"C:\\ab.sys"},
        // The replacement is not searched again: W itself holding \SystemRoot\ stays.
        PathCase{u"C:\\SystemRoot", u"\\SystemRoot\\x.sys", u"C:\\SystemRoot\\x.sys"}));

struct PrefixCase {
    Text reported;
    const char16_t* expected;
};

class WindowsDirPrefixTest : public ::testing::TestWithParam<PrefixCase> {};

TEST_P(WindowsDirPrefixTest, FormsPrefix) {
    FixedPaths paths(GetParam().reported);
    EXPECT_EQ(WindowsDirPrefix(paths), Text(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(
    Table, WindowsDirPrefixTest,
    ::testing::Values(PrefixCase{u"C:\\Windows", u"C:\\Windows\\"}, PrefixCase{u"C:\\", u"C:\\"},
                      PrefixCase{u"", u"\\"}, PrefixCase{u"  \tC:\\Windows \r\n", u"C:\\Windows\\"},
                      PrefixCase{Text(u"C:\\Win\0garbage", 14), u"C:\\Win\\"}));

TEST(WindowsDirPrefixTest, CutsAt260Characters) {
    FixedPaths paths(Text(300, u'x'));
    const Text w = WindowsDirPrefix(paths);
    EXPECT_EQ(w, Text(260, u'x') + u"\\");
}

TEST(ResolveKernelPathTest, WithoutWindowsDirectoryPathsLeadNowhere) {
    FixedPaths p(u"");
    EXPECT_EQ(ResolveKernelPath(p, u"\\SystemRoot\\system32\\x.sys"), u"\\:system32\\x.sys");
    EXPECT_EQ(ResolveKernelPath(p, u"foo.sys"), u"foo.sys");
}

TEST(ResolveKernelPathTest, CaseBlindSearchKeepsTheCaseOfTheRest) {
    FixedPaths p(u"C:\\Windows");
    EXPECT_EQ(ResolveKernelPath(p, u"\\SYSTEMROOT\\MiXeD\\Case.SYS"),
              u"C:\\Windows\\MiXeD\\Case.SYS");
}

TEST(GetSystemDirTest, GivesThePlatformTextUnchanged) {
    FixedPaths usual(u"C:\\Windows", u"C:\\Windows\\system32");
    FixedPaths none(u"C:\\Windows", u"");
    FixedPaths blanks(u"C:\\Windows", u" D:\\sys\\ ");
    EXPECT_EQ(GetSystemDir(usual), u"C:\\Windows\\system32");
    EXPECT_EQ(GetSystemDir(none), u"");
    EXPECT_EQ(GetSystemDir(blanks), u" D:\\sys\\ ");
}

TEST(ReplaceAllTest, NeverSearchesInsertedTextAndNeverOverlaps) {
    EXPECT_EQ(ReplaceAll(u"aaaa", u"aa", u"a"), u"aa");
    EXPECT_EQ(ReplaceAll(u"aaa", u"aa", u"a"), u"aa");
    EXPECT_EQ(ReplaceAll(u"xyx", u"x", u"xx"), u"xxyxx");
    EXPECT_EQ(ReplaceAll(u"abc", u"", u"z"), u"abc");
}

}  // namespace
}  // namespace tolvessa
