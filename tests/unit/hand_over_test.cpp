#include "shell/hand_over.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/unit/fake_cmd_line.h"

namespace tolvessa {
namespace {

using testing::FakeCmdLine;

// Every argument after the program's name, as the program's reader finds them.
std::vector<Text> Arguments(CmdLineApi& cmdLine) {
    std::vector<Text> args;
    for (int i = 1; i <= CmdLineArgCount(cmdLine); ++i)
        args.push_back(CmdLineArg(cmdLine, i));
    return args;
}

// The arguments reach the other program one for one, however they are written.
TEST(HandOverCommandLineTest, TheOtherProgramReadsTheSameArguments) {
    const Text program = u"C:\\Program Files\\Corvane\\Tolvessa64.exe";
    const char16_t* const lines[] = {
        u"Tolvessa.exe",
        u"\"C:\\Program Files\\Corvane\\Tolvessa.exe\"",
        u"\"C:\\Program Files\\Corvane\\Tolvessa.exe\" -log \"C:\\My Reports\\a.log\"",
        u"Tolvessa.exe -log a.log -log b.log",
        u"Tolvessa.exe    -log\t\ta.log   ",
        u"Tolvessa.exe \"\" -log \"\"",
        u"Tolvessa.exe -log \"C:\\Reports\\\\\" x",
        u"Tolvessa.exe a\\\"b \"c\\\"d e\" f\\\\\\\"g",
        u"Tolvessa.exe \"unclosed -log x",
        u"\"C:\\odd\"name\".exe -log x",
        u"C:\\a\\b\\c\\Tolvessa.exe\t-log\tx",
        u"   Tolvessa.exe -log x",
        u"Tolvessa.exe \x01-log\x1F"
        u"x",
        u"Tolvessa.exe -log \u00E9t\u00E9.log \u65E5\u672C.log",
    };
    for (const char16_t* line : lines) {
        FakeCmdLine parent(Text(line), u"C:\\Corvane\\Tolvessa.exe");
        const Text handed = HandOverCommandLine(parent, program);
        FakeCmdLine child(handed, program);
        EXPECT_EQ(Arguments(child), Arguments(parent)) << TextToUtf8(handed);
        // The other program's name is its own first token, whatever follows it.
        const char16_t* cursor = child.CommandLine();
        Text first(program.size() + 8, u'\0');
        std::size_t length = 0;
        ASSERT_TRUE(NextCmdLineToken(child, cursor, first.data(), &length));
        first.resize(length);
        EXPECT_EQ(first, program) << TextToUtf8(handed);
    }
}

TEST(HandOverCommandLineTest, KeepsTheRestOfTheLineAsItStands) {
    FakeCmdLine parent(Text(u"\"C:\\x y\\Tolvessa.exe\"  -log  \"a b.log\" "), u"");
    EXPECT_EQ(HandOverCommandLine(parent, u"C:\\x y\\Tolvessa64.exe"),
              u"\"C:\\x y\\Tolvessa64.exe\"  -log  \"a b.log\" ");
    FakeCmdLine bare(Text(u"Tolvessa.exe"), u"");
    EXPECT_EQ(HandOverCommandLine(bare, u"C:\\T64.exe"), u"\"C:\\T64.exe\"");
    FakeCmdLine none(std::nullopt, u"");
    EXPECT_EQ(HandOverCommandLine(none, u"C:\\T64.exe"), u"\"C:\\T64.exe\"");
}

class FakeSystem : public HandOverApi {
  public:
    bool wow64 = true;
    Text self = u"C:\\Tools\\Tolvessa.exe";
    std::vector<Text> files = {u"C:\\Tools\\Tolvessa64.exe"};
    std::optional<std::uint32_t> exitCode = 0;

    std::vector<Text> asked;
    std::vector<std::pair<Text, Text>> started;

    bool RunsUnderWow64() override { return wow64; }
    Text ExecutablePath() override { return self; }
    bool IsFile(const Text& path) override {
        asked.push_back(path);
        for (const Text& f : files) {
            if (f == path)
                return true;
        }
        return false;
    }
    std::optional<std::uint32_t> RunAndWait(const Text& program, const Text& commandLine) override {
        started.emplace_back(program, commandLine);
        return exitCode;
    }
};

TEST(HandOverTest, StartsTheSixtyFourBitProgramBesideItAndEndsWithItsExitCode) {
    for (const std::uint32_t code : {0u, 1u, 3u, 0xC0000005u, 0xFFFFFFFFu}) {
        FakeSystem system;
        system.exitCode = code;
        FakeCmdLine cmdLine(Text(u"Tolvessa.exe -log \"C:\\r s\\a.log\""), system.self);
        EXPECT_EQ(HandOver(system, cmdLine), std::optional<std::uint32_t>(code));
        ASSERT_EQ(system.started.size(), 1u);
        EXPECT_EQ(system.started[0].first, u"C:\\Tools\\Tolvessa64.exe");
        EXPECT_EQ(system.started[0].second,
                  u"\"C:\\Tools\\Tolvessa64.exe\" -log \"C:\\r s\\a.log\"");
    }
}

// Every way of not handing over leaves the work to this process, having started nothing (or
// having tried once).
TEST(HandOverTest, CarriesOnItselfWhenItCannotOrNeedNotHandOver) {
    struct Case {
        const char* name;
        bool wow64;
        Text self;
        std::vector<Text> files;
        std::optional<std::uint32_t> exitCode;
        std::size_t starts;
    } const cases[] = {
        {"not_under_wow64",
         false,
         u"C:\\Tools\\Tolvessa.exe",
         {u"C:\\Tools\\Tolvessa64.exe"},
         0,
         0},
        {"no_file_beside_it",
         true,
         u"C:\\Tools\\Tolvessa.exe",
         {u"C:\\Other\\Tolvessa64.exe"},
         0,
         0},
        {"cannot_be_started",
         true,
         u"C:\\Tools\\Tolvessa.exe",
         {u"C:\\Tools\\Tolvessa64.exe"},
         std::nullopt,
         1},
        {"named_like_the_other_itself",
         true,
         u"C:\\Tools\\TOLVESSA64.EXE",
         {u"C:\\Tools\\Tolvessa64.exe"},
         0,
         0},
        {"no_folder_in_its_path", true, u"Tolvessa.exe", {u"Tolvessa64.exe"}, 0, 0},
    };
    for (const Case& c : cases) {
        FakeSystem system;
        system.wow64 = c.wow64;
        system.self = c.self;
        system.files = c.files;
        system.exitCode = c.exitCode;
        FakeCmdLine cmdLine(Text(u"Tolvessa.exe -log a.log"), c.self);
        EXPECT_EQ(HandOver(system, cmdLine), std::nullopt) << c.name;
        EXPECT_EQ(system.started.size(), c.starts) << c.name;
    }
}

TEST(HandOverTest, LooksForTheProgramInItsOwnFolder) {
    FakeSystem system;
    system.self = u"D:\\portable tools\\corvane\\Tolvessa.exe";
    system.files = {};
    FakeCmdLine cmdLine(Text(u"Tolvessa.exe"), system.self);
    EXPECT_EQ(HandOver(system, cmdLine), std::nullopt);
    EXPECT_EQ(system.asked, std::vector<Text>{u"D:\\portable tools\\corvane\\Tolvessa64.exe"});
}

}  // namespace
}  // namespace tolvessa
