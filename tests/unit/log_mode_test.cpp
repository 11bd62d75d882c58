#include "shell/log_mode.h"

#include <gtest/gtest.h>

#include "tests/unit/fake_cmd_line.h"

#include <algorithm>
#include <string>
#include <vector>

#include "shell/cmd_line.h"

namespace tolvessa {
namespace {

// Actions that write down what they were asked to do, in order. The scans of the rounds listed
// in `unreadRounds` (1, 2, ...) fail to read the table; writing to a name in `unwritable` fails.
struct Recorder {
    std::vector<std::string> actions;
    std::vector<int> unreadRounds;
    std::vector<std::string> unwritable;
    int scans = 0;

    LogModeActions Over(std::function<int()> count, std::function<Text(int)> arg) {
        LogModeActions a;
        a.argCount = std::move(count);
        a.arg = std::move(arg);
        a.scan = [this] {
            actions.push_back("scan");
            ++scans;
            return std::find(unreadRounds.begin(), unreadRounds.end(), scans) == unreadRounds.end();
        };
        a.writeReport = [this](const Text& name) {
            const std::string file = TextToUtf8(name);
            actions.push_back("write " + file);
            return std::find(unwritable.begin(), unwritable.end(), file) == unwritable.end();
        };
        a.pause = [this](unsigned ms) { actions.push_back("pause " + std::to_string(ms)); };
        a.close = [this] { actions.push_back("close"); };
        return a;
    }

    // Arguments from a list; the empty text past its end, as the command line gives it.
    LogModeActions Over(const std::vector<Text>& args) {
        return Over([&args] { return static_cast<int>(args.size()); },
                    [&args](int i) {
                        return i >= 1 && i <= static_cast<int>(args.size()) ? args[i - 1] : Text();
                    });
    }
};

struct LogCase {
    const char* name;
    std::vector<Text> args;
    std::vector<std::string> actions;
};

class LogModeTest : public ::testing::TestWithParam<LogCase> {};

std::vector<std::string> Round(const std::string& file) {
    return {"scan", "write " + file, "pause 1000", "close"};
}

std::vector<std::string> Rounds(const std::vector<std::string>& files) {
    std::vector<std::string> all;
    for (const std::string& file : files) {
        const auto round = Round(file);
        all.insert(all.end(), round.begin(), round.end());
    }
    return all;
}

TEST_P(LogModeTest, RunsOneRoundPerExactSwitch) {
    const LogCase& c = GetParam();
    Recorder recorder;
    const LogModeOutcome outcome = RunLogMode(recorder.Over(c.args));
    EXPECT_EQ(recorder.actions, c.actions);
    EXPECT_EQ(outcome.found, !c.actions.empty());
    EXPECT_EQ(outcome.ExitCode(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Table, LogModeTest,
    ::testing::Values(
        LogCase{"switch_and_file", {u"-log", u"C:\\out.log"}, Round("C:\\out.log")},
        LogCase{"upper_case", {u"-LOG", u"x"}, {}}, LogCase{"mixed_case", {u"-Log", u"y"}, {}},
        LogCase{"slash_form", {u"/log", u"y"}, {}}, LogCase{"longer_word", {u"-logfile", u"y"}, {}},
        LogCase{"padded", {u" -log", u"y"}, {}}, LogCase{"switch_last", {u"-log"}, Round("")},
        LogCase{"after_other_args", {u"x", u"-log", u"y"}, Round("y")},
        LogCase{"two_switches", {u"-log", u"a.log", u"-log", u"b.log"}, Rounds({"a.log", "b.log"})},
        LogCase{"file_named_like_switch", {u"-log", u"-log"}, Rounds({"-log", ""})},
        LogCase{"no_arguments", {}, {}}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(LogModeTest, ReadsTheCountOnce) {
    Recorder recorder;
    int countCalls = 0;
    std::vector<Text> args = {u"-log", u"a.log"};
    const LogModeOutcome outcome = RunLogMode(recorder.Over(
        [&] {
            ++countCalls;
            return 2;
        },
        [&args](int i) { return i >= 1 && i <= 2 ? args[i - 1] : Text(); }));
    EXPECT_TRUE(outcome.found);
    EXPECT_EQ(countCalls, 1);
}

// The real command line behind the arguments: a trailing "-log" writes to the empty name.
TEST(LogModeTest, OverTheCommandLine) {
    testing::FakeCmdLine platform(
        u"\"C:\\Program Files\\prog.exe\" -log \"C:\\My Logs\\k.log\" -log",
        u"C:\\Program Files\\prog.exe");

    Recorder recorder;
    recorder.unwritable = {""};
    const LogModeOutcome outcome = RunLogMode(recorder.Over(
        [&] { return CmdLineArgCount(platform); }, [&](int i) { return CmdLineArg(platform, i); }));
    EXPECT_TRUE(outcome.found);
    EXPECT_EQ(recorder.actions, Rounds({"C:\\My Logs\\k.log", ""}));
    EXPECT_EQ(outcome.ExitCode(), kExitReportUnwritten);
}

// Failures of any round end up in the exit code; no failure stops a later round.
struct FailureCase {
    const char* name;
    std::vector<Text> args;
    std::vector<int> unreadRounds;
    std::vector<std::string> unwritable;
    int exitCode;
};

class LogModeFailureTest : public ::testing::TestWithParam<FailureCase> {};

TEST_P(LogModeFailureTest, EveryRoundRunsAndTheCodeTellsWhatFailed) {
    const FailureCase& c = GetParam();
    Recorder recorder;
    recorder.unreadRounds = c.unreadRounds;
    recorder.unwritable = c.unwritable;
    const LogModeOutcome outcome = RunLogMode(recorder.Over(c.args));
    std::vector<std::string> files;
    for (std::size_t i = 0; i < c.args.size(); ++i) {
        if (c.args[i] == u"-log")
            files.push_back(i + 1 < c.args.size() ? TextToUtf8(c.args[i + 1]) : "");
    }
    EXPECT_EQ(recorder.actions, Rounds(files));
    EXPECT_TRUE(outcome.found);
    EXPECT_EQ(outcome.ExitCode(), c.exitCode);
}

INSTANTIATE_TEST_SUITE_P(
    Table, LogModeFailureTest,
    ::testing::Values(
        FailureCase{"all_written", {u"-log", u"a.log", u"-log", u"b.log"}, {}, {}, 0},
        FailureCase{"table_unread", {u"-log", u"a.log"}, {1}, {}, 1},
        FailureCase{
            "table_unread_in_a_later_round", {u"-log", u"a.log", u"-log", u"b.log"}, {2}, {}, 1},
        FailureCase{"no_path", {u"-log"}, {}, {""}, 2},
        FailureCase{"unwritable_path", {u"-log", u"Z:\\no\\x.log"}, {}, {"Z:\\no\\x.log"}, 2},
        FailureCase{
            "first_report_unwritten", {u"-log", u"a.log", u"-log", u"b.log"}, {}, {"a.log"}, 2},
        FailureCase{"both_in_one_round", {u"-log", u"a.log"}, {1}, {"a.log"}, 3},
        FailureCase{
            "both_in_different_rounds", {u"-log", u"a.log", u"-log", u"b.log"}, {1}, {"b.log"}, 3}),
    [](const auto& param) { return std::string(param.param.name); });

// Every finding is a bit of its own: each of the sixteen combinations gives a distinct code, and
// each flag reads back from it alone.
TEST(ExitFlagsTest, EveryCombinationReadsBackUnambiguously) {
    std::vector<int> seen;
    for (int mask = 0; mask < 16; ++mask) {
        const bool tableUnread = (mask & 1) != 0;
        const bool reportUnwritten = (mask & 2) != 0;
        const bool driverLoaded = (mask & 4) != 0;
        const bool listUnread = (mask & 8) != 0;
        const int code = CombineExitFlags(tableUnread, reportUnwritten, driverLoaded, listUnread);
        SCOPED_TRACE(mask);
        EXPECT_EQ((code & kExitModuleTableUnread) != 0, tableUnread);
        EXPECT_EQ((code & kExitReportUnwritten) != 0, reportUnwritten);
        EXPECT_EQ((code & kExitVulnerableDriverLoaded) != 0, driverLoaded);
        EXPECT_EQ((code & kExitVulnerableListUnread) != 0, listUnread);
        EXPECT_EQ(code & ~15, 0);
        EXPECT_EQ(std::count(seen.begin(), seen.end(), code), 0);
        seen.push_back(code);

        LogModeOutcome outcome;
        outcome.found = true;
        outcome.tableUnread = tableUnread;
        outcome.reportUnwritten = reportUnwritten;
        outcome.vulnerableDriverLoaded = driverLoaded;
        outcome.vulnerableListUnread = listUnread;
        EXPECT_EQ(outcome.ExitCode(), code);
    }
    // The codes the exit-flag table of docs/command-line.md names.
    EXPECT_EQ(CombineExitFlags(true, true, false, false), 3);
    EXPECT_EQ(CombineExitFlags(false, false, true, false), 4);
    EXPECT_EQ(CombineExitFlags(false, false, false, true), 8);
    EXPECT_EQ(CombineExitFlags(false, true, true, true), 14);
}

// Without lists there is nothing to find in them: neither list flag is set.
TEST(ExitFlagsTest, LogModeAloneSetsNoListFlag) {
    Recorder recorder;
    const std::vector<Text> args = {u"-log", u"a.log"};
    const LogModeOutcome outcome = RunLogMode(recorder.Over(args));
    EXPECT_FALSE(outcome.vulnerableDriverLoaded);
    EXPECT_FALSE(outcome.vulnerableListUnread);
    EXPECT_EQ(outcome.ExitCode(), 0);
}

// Actions for the lists and the exports too, written down in order. Lists whose names are in
// `unreadableLists` fail to load, those in `cutLists` load cut short, exports to names in
// `unwritable` fail; `vulnerable` tells whether the scanned rows match a list once they are
// completed. As the window's list does, the rows of every scan that read its table stay in the
// list (a failed scan adds none and removes none), and only rows that were completed can match.
struct FullRecorder : Recorder {
    std::vector<std::string> unreadableLists;
    std::vector<std::string> cutLists;
    std::vector<Text> besideProgram;
    bool vulnerable = false;
    int rowsScanned = 0;    // rounds whose rows are in the list
    int rowsCompleted = 0;  // of them, judged and matched

    LogModeActions Over(const std::vector<Text>& args) {
        LogModeActions a = OverWithoutRows(args);
        a.scan = [this, scan = a.scan] {
            const bool read = scan();
            if (read)
                ++rowsScanned;
            return read;
        };
        a.completeRows = [this] {
            actions.push_back("complete");
            rowsCompleted = rowsScanned;
        };
        a.anyVulnerable = [this] { return vulnerable && rowsCompleted > 0; };
        return a;
    }

    LogModeActions OverWithoutRows(const std::vector<Text>& args) {
        LogModeActions a = Recorder::Over(args);
        a.defaultLists = [this] { return besideProgram; };
        a.loadList = [this](const Text& name, bool unattended) {
            const std::string file = TextToUtf8(name);
            actions.push_back(std::string(unattended ? "load quietly " : "load ") + file);
            const auto holds = [&file](const std::vector<std::string>& names) {
                return std::find(names.begin(), names.end(), file) != names.end();
            };
            return holds(unreadableLists) ? ListLoadResult::kUnread
                   : holds(cutLists)      ? ListLoadResult::kCutShort
                                          : ListLoadResult::kLoaded;
        };
        a.completeRows = [this] { actions.push_back("complete"); };
        a.writeExport = [this](ExportKind kind, const Text& name) {
            const std::string file = TextToUtf8(name);
            actions.push_back((kind == ExportKind::kCsv ? "csv " : "json ") + file);
            return !file.empty() &&
                   std::find(unwritable.begin(), unwritable.end(), file) == unwritable.end();
        };
        a.anyVulnerable = [this] { return vulnerable; };
        return a;
    }
};

// A list cut short is used as far as it goes, so the rows are completed and matched against it,
// and it is still a list not read: flag 8, beside flag 4 when a row matched. Interactively it
// sets nothing.
TEST(ExitFlagsTest, ACutListIsUsedAndStillCountsAsUnread) {
    struct Case {
        const char* name;
        std::vector<Text> args;
        bool vulnerable;
        std::vector<std::string> actions;
        int exitCode;
    };
    const Case cases[] = {
        {"cut_and_matched",
         {u"-vulnlist", u"cut.csv", u"-log", u"r.log"},
         true,
         {"load quietly cut.csv", "scan", "write r.log", "pause 1000", "close", "complete"},
         12},
        {"cut_and_nothing_matched",
         {u"-vulnlist", u"cut.csv", u"-csv", u"o.csv"},
         false,
         {"load quietly cut.csv", "scan", "complete", "csv o.csv", "pause 1000", "close"},
         8},
        {"interactive", {u"-vulnlist", u"cut.csv"}, true, {"load cut.csv"}, 0},
    };
    for (const Case& c : cases) {
        FullRecorder recorder;
        recorder.cutLists = {"cut.csv"};
        recorder.vulnerable = c.vulnerable;
        const LogModeOutcome outcome = RunLogMode(recorder.Over(c.args));
        EXPECT_EQ(recorder.actions, c.actions) << c.name;
        EXPECT_EQ(outcome.ExitCode(), c.exitCode) << c.name;
    }
}

struct FullCase {
    const char* name;
    std::vector<Text> args;
    std::vector<Text> besideProgram;
    std::vector<std::string> unreadableLists;
    std::vector<std::string> unwritable;
    std::vector<int> unreadRounds;
    bool vulnerable;
    std::vector<std::string> actions;
    int exitCode;
};

class LogModeExportTest : public ::testing::TestWithParam<FullCase> {};

TEST_P(LogModeExportTest, ListsFirstThenRoundsThenEachExportOnce) {
    const FullCase& c = GetParam();
    FullRecorder recorder;
    recorder.besideProgram = c.besideProgram;
    recorder.unreadableLists = c.unreadableLists;
    recorder.unwritable = c.unwritable;
    recorder.unreadRounds = c.unreadRounds;
    recorder.vulnerable = c.vulnerable;
    const LogModeOutcome outcome = RunLogMode(recorder.Over(c.args));
    EXPECT_EQ(recorder.actions, c.actions);
    EXPECT_EQ(outcome.ExitCode(), c.exitCode);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LogModeExportTest,
    ::testing::Values(
        FullCase{"csv_alone_scans_completes_writes_and_closes",
                 {u"-csv", u"a.csv"},
                 {},
                 {},
                 {},
                 {},
                 false,
                 {"scan", "complete", "csv a.csv", "pause 1000", "close"},
                 0},
        FullCase{"exports_after_the_last_round_each_once",
                 {u"-json", u"a.json", u"-log", u"a.log", u"-csv", u"a.csv", u"-log", u"b.log"},
                 {},
                 {},
                 {},
                 {},
                 false,
                 {"scan", "write a.log", "pause 1000", "close", "scan", "write b.log", "pause 1000",
                  "close", "complete", "json a.json", "csv a.csv"},
                 0},
        FullCase{"a_switch_is_a_switch_wherever_it_stands_as_with_log",
                 {u"-csv", u"-log", u"-json"},
                 {},
                 {},
                 {},
                 {},
                 false,
                 {"scan", "write -json", "pause 1000", "close", "complete", "csv -log", "json "},
                 2},
        FullCase{"lists_beside_the_program_then_named_ones_before_the_scan",
                 {u"-vulnlist", u"b.xml", u"-log", u"r.log", u"-vulnlist", u"c.csv"},
                 {u"beside.csv"},
                 {},
                 {},
                 {},
                 true,
                 {"load quietly beside.csv", "load quietly b.xml", "load quietly c.csv", "scan",
                  "write r.log", "pause 1000", "close", "complete"},
                 4},
        FullCase{"an_unreadable_list_is_a_flag_and_the_others_still_count",
                 {u"-vulnlist", u"bad.csv", u"-vulnlist", u"good.csv", u"-json", u"o.json"},
                 {},
                 {"bad.csv"},
                 {},
                 {},
                 true,
                 {"load quietly bad.csv", "load quietly good.csv", "scan", "complete",
                  "json o.json", "pause 1000", "close"},
                 12},
        FullCase{"no_list_read_means_no_match_asked",
                 {u"-vulnlist", u"bad.csv", u"-log", u"r.log"},
                 {},
                 {"bad.csv"},
                 {},
                 {},
                 true,
                 {"load quietly bad.csv", "scan", "write r.log", "pause 1000", "close"},
                 8},
        FullCase{"an_unwritten_export_is_an_unwritten_report",
                 {u"-csv", u"x.csv", u"-json", u"y.json"},
                 {},
                 {},
                 {"x.csv"},
                 {},
                 false,
                 {"scan", "complete", "csv x.csv", "json y.json", "pause 1000", "close"},
                 2},
        FullCase{"an_unread_table_completes_no_rows_but_writes_the_files",
                 {u"-csv", u"x.csv"},
                 {},
                 {},
                 {},
                 {1},
                 false,
                 {"scan", "csv x.csv", "pause 1000", "close"},
                 1},
        FullCase{"a_later_round_that_cannot_read_the_table_loses_no_row_nor_flag",
                 {u"-log", u"a.log", u"-log", u"b.log", u"-vulnlist", u"L.csv", u"-csv", u"x.csv"},
                 {},
                 {},
                 {},
                 {2},
                 true,
                 {"load quietly L.csv", "scan", "write a.log", "pause 1000", "close", "scan",
                  "write b.log", "pause 1000", "close", "complete", "csv x.csv"},
                 5},
        FullCase{"an_earlier_round_that_cannot_read_the_table_loses_no_flag_either",
                 {u"-log", u"a.log", u"-log", u"b.log", u"-vulnlist", u"L.csv"},
                 {},
                 {},
                 {},
                 {1},
                 true,
                 {"load quietly L.csv", "scan", "write a.log", "pause 1000", "close", "scan",
                  "write b.log", "pause 1000", "close", "complete"},
                 5},
        FullCase{"no_round_read_the_table_so_nothing_is_completed",
                 {u"-log", u"a.log", u"-log", u"b.log", u"-vulnlist", u"L.csv"},
                 {},
                 {},
                 {},
                 {1, 2},
                 true,
                 {"load quietly L.csv", "scan", "write a.log", "pause 1000", "close", "scan",
                  "write b.log", "pause 1000", "close"},
                 1},
        FullCase{"interactive_run_loads_lists_with_messages_and_ends_with_0",
                 {u"-vulnlist", u"bad.csv"},
                 {u"beside.xml"},
                 {"bad.csv"},
                 {},
                 {},
                 false,
                 {"load beside.xml", "load bad.csv"},
                 0}),
    [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace tolvessa
