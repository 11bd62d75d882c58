// The unattended run: "-log <file>" on the command line scans, writes the report into the file
// and closes the window.
#pragma once

#include <functional>

#include "inventory/text.h"

namespace tolvessa {

// How long the window stays up after writing a report.
inline constexpr unsigned kLogModePauseMilliseconds = 1000;

// What log mode does, supplied by the main window.
struct LogModeActions {
    std::function<int()> argCount;       // arguments after the program's name
    std::function<Text(int index)> arg;  // the empty text past the last argument
    std::function<bool()> scan;          // fills the driver list; false when the table was unread
    std::function<bool(const Text& fileName)> writeReport;  // false when no report was written
    std::function<void(unsigned milliseconds)> pause;
    std::function<void()> close;  // asks the window to close
};

// The process exit codes of an unattended run; both failures together give 3.
inline constexpr int kExitModuleTableUnread = 1;
inline constexpr int kExitReportUnwritten = 2;

// What an unattended run came to, over all of its rounds.
struct LogModeOutcome {
    bool found = false;            // any "-log" at all: the run was unattended
    bool tableUnread = false;      // some round could not read the module table
    bool reportUnwritten = false;  // some round wrote no report

    // 0 when every round read the table and wrote its report.
    int ExitCode() const {
        return (tableUnread ? kExitModuleTableUnread : 0) |
               (reportUnwritten ? kExitReportUnwritten : 0);
    }
};

// Goes through the arguments once, in order. Each argument that is exactly "-log" scans, writes
// the report into the argument after it (the empty text when there is none, which writes no
// file), pauses and closes; then the arguments go on from the one after "-log", so a file name
// that reads "-log" starts another round. A failed round does not end the run.
LogModeOutcome RunLogMode(const LogModeActions& actions);

}  // namespace tolvessa
