// Command lines no shell would write: long runs, lone surrogates, a NUL inside. The split is
// still the shell's, every argument is read whole, and nothing past the terminating zero counts.
#include <gtest/gtest.h>

#include "tests/unit/fake_cmd_line.h"

#include <string>
#include <vector>

#include "shell/cmd_line.h"

namespace tolvessa {
namespace {

Text Repeat(TextView part, std::size_t times) {
    Text out;
    for (std::size_t i = 0; i < times; ++i)
        out += part;
    return out;
}

struct BadLineCase {
    const char* name;
    Text line;
    std::vector<Text> args;  // after the program's name
};

class CmdLineBadInputTest : public ::testing::TestWithParam<BadLineCase> {};

TEST_P(CmdLineBadInputTest, SplitsLikeTheShell) {
    const BadLineCase& c = GetParam();
    testing::FakeCmdLine platform(c.line, u"C:\\tolvessa.exe");

    const int count = CmdLineArgCount(platform);
    ASSERT_EQ(count, static_cast<int>(c.args.size()));
    for (int i = 1; i <= count; ++i)
        EXPECT_EQ(CmdLineArg(platform, i), c.args[i - 1]) << "argument " << i;
    EXPECT_EQ(CmdLineArg(platform, count + 1), u"");
}

INSTANTIATE_TEST_SUITE_P(
    Table, CmdLineBadInputTest,
    ::testing::Values(BadLineCase{"ten_thousand_backslashes_then_a_quote",
                                  u"prog.exe " + Repeat(u"\\", 10000) + u"\"a b\"",
                                  {Repeat(u"\\", 5000) + u"a b"}},
                      BadLineCase{"odd_run_of_backslashes_then_a_quote",
                                  u"prog.exe " + Repeat(u"\\", 10001) + u"\"a b",
                                  {Repeat(u"\\", 5000) + u"\"a", u"b"}},
                      BadLineCase{"backslashes_at_the_very_end", u"prog.exe a\\\\\\", {u"a\\\\\\"}},
                      BadLineCase{"quotes_only", u"prog.exe \"\"\"\"\"\"", {u""}},
                      BadLineCase{"a_thousand_empty_arguments",
                                  u"prog.exe" + Repeat(u" \"\"", 1000), std::vector<Text>(1000)},
                      BadLineCase{"nul_ends_the_line", Text(u"prog.exe a\0b c", 14), {u"a"}},
                      BadLineCase{"unpaired_surrogates_are_characters",
                                  u"prog.exe \xD800 \xDC00x \"\xDBFF\"",
                                  {u"\xD800", u"\xDC00x", u"\xDBFF"}}),
    [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace tolvessa
