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

PathPlatform WithWindowsDir(Text dir, Text systemDir = u"C:\\Windows\\system32") {
    PathPlatform p;
    p.windowsDirectory = [dir] { return dir; };
    p.systemDirectory = [systemDir] { return systemDir; };
    p.upperCase = AsciiUpper;
    return p;
}

struct PathCase {
    const char16_t* windowsDir;
    const char16_t* kernelPath;
    const char16_t* expected;
};

class ResolveKernelPathTest : public ::testing::TestWithParam<PathCase> {};

TEST_P(ResolveKernelPathTest, Resolves) {
    const PathCase& c = GetParam();
    EXPECT_EQ(ResolveKernelPath(WithWindowsDir(c.windowsDir), c.kernelPath), Text(c.expected));
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
    EXPECT_EQ(WindowsDirPrefix(WithWindowsDir(GetParam().reported)), Text(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(
    Table, WindowsDirPrefixTest,
    ::testing::Values(PrefixCase{u"C:\\Windows", u"C:\\Windows\\"}, PrefixCase{u"C:\\", u"C:\\"},
                      PrefixCase{u"", u"\\"}, PrefixCase{u"  \tC:\\Windows \r\n", u"C:\\Windows\\"},
                      PrefixCase{Text(u"C:\\Win\0garbage", 14), u"C:\\Win\\"}));

TEST(WindowsDirPrefixTest, CutsAt260Characters) {
    const Text w = WindowsDirPrefix(WithWindowsDir(Text(300, u'x')));
    EXPECT_EQ(w, Text(260, u'x') + u"\\");
}

TEST(ResolveKernelPathTest, WithoutWindowsDirectoryPathsLeadNowhere) {
    const PathPlatform p = WithWindowsDir(u"");
    EXPECT_EQ(ResolveKernelPath(p, u"\\SystemRoot\\system32\\x.sys"), u"\\:system32\\x.sys");
    EXPECT_EQ(ResolveKernelPath(p, u"foo.sys"), u"foo.sys");
}

TEST(ResolveKernelPathTest, CaseBlindSearchKeepsTheCaseOfTheRest) {
    const PathPlatform p = WithWindowsDir(u"C:\\Windows");
    EXPECT_EQ(ResolveKernelPath(p, u"\\SYSTEMROOT\\MiXeD\\Case.SYS"),
              u"C:\\Windows\\MiXeD\\Case.SYS");
}

TEST(GetSystemDirTest, GivesThePlatformTextUnchanged) {
    EXPECT_EQ(GetSystemDir(WithWindowsDir(u"C:\\Windows", u"C:\\Windows\\system32")),
              u"C:\\Windows\\system32");
    EXPECT_EQ(GetSystemDir(WithWindowsDir(u"C:\\Windows", u"")), u"");
    EXPECT_EQ(GetSystemDir(WithWindowsDir(u"C:\\Windows", u" D:\\sys\\ ")), u" D:\\sys\\ ");
}

TEST(ReplaceAllTest, NeverSearchesInsertedTextAndNeverOverlaps) {
    EXPECT_EQ(ReplaceAll(u"aaaa", u"aa", u"a"), u"aa");
    EXPECT_EQ(ReplaceAll(u"aaa", u"aa", u"a"), u"aa");
    EXPECT_EQ(ReplaceAll(u"xyx", u"x", u"xx"), u"xxyxx");
    EXPECT_EQ(ReplaceAll(u"abc", u"", u"z"), u"abc");
}

}  // namespace
}  // namespace tolvessa
