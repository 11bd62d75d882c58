#include "shell/cmd_line.h"

#include <gtest/gtest.h>

#include "tests/unit/fake_cmd_line.h"

#include <string>
#include <vector>

namespace tolvessa {
namespace {

constexpr const char16_t* kModulePath = u"C:\\Tools\\Tolvessa\\tolvessa.exe";

using testing::FakeCmdLine;

struct ArgsCase {
    const char* name;
    const char16_t* line;
    std::vector<Text> args;  // after the program's name
};

class CmdLineArgsTest : public ::testing::TestWithParam<ArgsCase> {};

TEST_P(CmdLineArgsTest, SplitsLikeTheShell) {
    const ArgsCase& c = GetParam();
    FakeCmdLine platform(Text(c.line), kModulePath);
    const int count = CmdLineArgCount(platform);
    ASSERT_EQ(count, static_cast<int>(c.args.size()));
    for (int i = 1; i <= count; ++i)
        EXPECT_EQ(CmdLineArg(platform, i), c.args[i - 1]) << "argument " << i;
    EXPECT_EQ(CmdLineArg(platform, count + 1), u"");
    EXPECT_EQ(CmdLineArg(platform, count + 5), u"");
    EXPECT_EQ(CmdLineArg(platform, 0), kModulePath);
    EXPECT_EQ(CmdLineArg(platform, -1), kModulePath);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CmdLineArgsTest,
    ::testing::Values(
        ArgsCase{"quoted_program",
                 u"\"C:\\Program Files\\prog.exe\" -log C:\\out.log",
                 {u"-log", u"C:\\out.log"}},
        ArgsCase{"quoted_blank_path",
                 u"prog.exe -log \"C:\\My Logs\\k.log\"",
                 {u"-log", u"C:\\My Logs\\k.log"}},
        ArgsCase{"quotes_inside_token", u"prog.exe a\"b c\"d e", {u"ab cd", u"e"}},
        ArgsCase{"escaped_quote_in_quotes", u"prog.exe \"a\\\"b\" c", {u"a\"b", u"c"}},
        ArgsCase{"even_backslashes_then_quote", u"prog.exe a\\\\\"b c\" d", {u"a\\b c", u"d"}},
        ArgsCase{"odd_backslashes_then_quote", u"prog.exe a\\\\\\\"b c", {u"a\\\"b", u"c"}},
        ArgsCase{"trailing_backslash", u"prog.exe C:\\dir\\ x", {u"C:\\dir\\", u"x"}},
        ArgsCase{"doubled_backslash_before_closing_quote",
                 u"prog.exe \"C:\\dir\\\\\" x",
                 {u"C:\\dir\\", u"x"}},
        ArgsCase{"empty_quoted", u"prog.exe \"\" x", {u"", u"x"}},
        ArgsCase{"adjacent_quotes", u"prog.exe \"a\"\"b\"", {u"ab"}},
        ArgsCase{"tabs_separate", u"prog.exe\t-log\tx", {u"-log", u"x"}},
        ArgsCase{"controls_and_runs_of_blanks", u"  prog.exe \x01 a  \r\n b \x1F", {u"a", u"b"}},
        ArgsCase{"blank_inside_quotes_kept", u"prog.exe \"a\tb\"", {u"a\tb"}},
        ArgsCase{"backslashes_without_quote",
                 u"prog.exe \\\\\\server\\\\share",
                 {u"\\\\\\server\\\\share"}},
        ArgsCase{"unclosed_quote_runs_to_end", u"prog.exe \"a b", {u"a b"}},
        ArgsCase{"program_name_only", u"prog.exe", {}}, ArgsCase{"blanks_only", u" \t ", {}},
        ArgsCase{"empty", u"", {}}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(NextCmdLineTokenTest, MeasuresThenReadsFromTheSameCursor) {
    FakeCmdLine platform(u"  a\\\\\"b c\"  next", kModulePath);
    const char16_t* cursor = platform.CommandLine();

    const char16_t* measure = cursor;
    std::size_t length = 99;
    ASSERT_TRUE(NextCmdLineToken(platform, measure, nullptr, &length));
    EXPECT_EQ(length, 5u);  // a\b c

    Text token(length, u'#');
    std::size_t again = 0;
    ASSERT_TRUE(NextCmdLineToken(platform, cursor, token.data(), &again));
    EXPECT_EQ(token, u"a\\b c");
    EXPECT_EQ(again, 5u);
    EXPECT_EQ(cursor, measure);
    EXPECT_EQ(Text(cursor), u"  next");  // stopped on the blank that ends the token

    ASSERT_TRUE(NextCmdLineToken(platform, cursor, nullptr, &length));
    EXPECT_EQ(length, 4u);
    EXPECT_EQ(*cursor, u'\0');

    length = 99;
    EXPECT_FALSE(NextCmdLineToken(platform, cursor, nullptr, &length));
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(*cursor, u'\0');
}

TEST(NextCmdLineTokenTest, EmptyTokenIsStillAToken) {
    FakeCmdLine platform(u"\"\"", kModulePath);
    const char16_t* cursor = platform.CommandLine();
    std::size_t length = 99;
    EXPECT_TRUE(NextCmdLineToken(platform, cursor, nullptr, &length));
    EXPECT_EQ(length, 0u);
    EXPECT_FALSE(NextCmdLineToken(platform, cursor, nullptr, &length));
}

// A CharNextW that treats a base letter and its combining marks as one character: the marks
// are stepped over and never become part of the token, and the length counts what is added.
TEST(NextCmdLineTokenTest, MovesOnlyThroughNextCharacter) {
    FakeCmdLine platform(u"prog.exe e\u0301\u0301x\\\"y z", kModulePath, [](const char16_t* at) {
        if (*at == 0)
            return at;
        ++at;
        while (*at == u'\u0301')
            ++at;
        return at;
    });

    EXPECT_EQ(CmdLineArgCount(platform), 2);
    EXPECT_EQ(CmdLineArg(platform, 1), u"ex\"y");
    EXPECT_EQ(CmdLineArg(platform, 2), u"z");
}

TEST(CmdLineTest, NullCommandLineHasNoArguments) {
    FakeCmdLine platform(std::nullopt, kModulePath, [](const char16_t* at) { return at; });
    EXPECT_EQ(CmdLineArgCount(platform), 0);
    EXPECT_EQ(CmdLineArg(platform, 1), u"");
    EXPECT_EQ(CmdLineArg(platform, 0), kModulePath);
}

}  // namespace
}  // namespace tolvessa
