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

// The process exit code of an unattended run is a set of bit flags, one per thing that went
// wrong or was found, so every combination reads back without doubt: 3 already meant "both
// failures" before the vulnerable-driver lists came, so a match could not take 3 and takes a
// bit of its own.
inline constexpr int kExitModuleTableUnread = 1;
inline constexpr int kExitReportUnwritten = 2;
inline constexpr int kExitVulnerableDriverLoaded = 4;  // a loaded driver is on a list
inline constexpr int kExitVulnerableListUnread = 8;    // a list named could not be read

// What an unattended run came to, over all of its rounds.
struct LogModeOutcome {
    bool found = false;                   // any "-log" at all: the run was unattended
    bool tableUnread = false;             // some round could not read the module table
    bool reportUnwritten = false;         // some round wrote no report
    bool vulnerableDriverLoaded = false;  // some row matched a vulnerable-driver list
    bool vulnerableListUnread = false;    // some list named on the command line was unreadable
                                          // or malformed as a whole

    // 0 when every round read the table and wrote its report and no list found anything.
    int ExitCode() const;
};

// The exit code of these findings: the flags above, or-ed.
int CombineExitFlags(bool tableUnread, bool reportUnwritten, bool vulnerableDriverLoaded,
                     bool vulnerableListUnread);

// Goes through the arguments once, in order. Each argument that is exactly "-log" scans, writes
// the report into the argument after it (the empty text when there is none, which writes no
// file), pauses and closes; then the arguments go on from the one after "-log", so a file name
// that reads "-log" starts another round. A failed round does not end the run.
LogModeOutcome RunLogMode(const LogModeActions& actions);

}  // namespace tolvessa
