// The unattended run: "-log <file>" on the command line scans, writes the report into the file
// and closes the window; "-csv <file>" and "-json <file>" write the list as data once every
// digest and verdict is in; "-vulnlist <file>" loads a vulnerable-driver list, in either mode.
#pragma once

#include <functional>
#include <vector>

#include "inventory/text.h"

namespace tolvessa {

// How long the window stays up after writing a report.
inline constexpr unsigned kLogModePauseMilliseconds = 1000;

enum class ExportKind { kCsv, kJson };

// What loading one vulnerable-driver list came to.
enum class ListLoadResult {
    kLoaded,
    kCutShort,  // loaded as far as the file goes, which ends where the list cannot: it counts as
                // not read, though its entries before the cut are used
    kUnread,    // could not be read, or is no list: nothing of it is used
};

// What log mode does, supplied by the main window.
struct LogModeActions {
    std::function<int()> argCount;       // arguments after the program's name
    std::function<Text(int index)> arg;  // the empty text past the last argument
    std::function<bool()> scan;          // fills the driver list; false when the table was unread
    std::function<bool(const Text& fileName)> writeReport;  // false when no report was written
    std::function<void(unsigned milliseconds)> pause;
    std::function<void()> close;  // asks the window to close

    // The vulnerable-driver lists, the exports: each may be left empty when the caller has none.
    // The lists found beside the program, loaded before those the command line names.
    std::function<std::vector<Text>()> defaultLists;
    // Loads a list. `unattended` tells whether a failure or a cut may be shown (an interactive
    // run says why in a message).
    std::function<ListLoadResult(const Text& fileName, bool unattended)> loadList;
    // Works out the digests, verdicts and list matches of every row of the list, all waited for.
    std::function<void()> completeRows;
    // Writes the list as CSV or JSON; false when no file was written.
    std::function<bool(ExportKind kind, const Text& fileName)> writeExport;
    // True when a row of the list matched a loaded list.
    std::function<bool()> anyVulnerable;
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
    bool found = false;                   // any "-log", "-csv" or "-json": the run was unattended
    bool tableUnread = false;             // some round could not read the module table
    bool reportUnwritten = false;         // some round wrote no report
    bool vulnerableDriverLoaded = false;  // some row matched a vulnerable-driver list
    bool vulnerableListUnread = false;    // some list named on the command line was unreadable,
                                          // malformed as a whole or cut short

    // 0 when every round read the table and wrote its report and no list found anything; always
    // 0 for an interactive run.
    int ExitCode() const;
};

// The exit code of these findings: the flags above, or-ed.
int CombineExitFlags(bool tableUnread, bool reportUnwritten, bool vulnerableDriverLoaded,
                     bool vulnerableListUnread);

// Goes through the arguments once, in order. Each argument that is exactly "-log" scans, writes
// the report into the argument after it (the empty text when there is none, which writes no
// file), pauses and closes; then the arguments go on from the one after "-log", so a file name
// that reads "-log" starts another round. A failed round does not end the run.
//
// "-csv", "-json" and "-vulnlist" take the argument after them as "-log" does, and an argument
// that is exactly one of the four switches counts wherever it stands.
// Before any round, the lists beside the program, then each "-vulnlist <file>" in order, are
// loaded. After the last round, when there is any "-csv <file>" or "-json <file>" (a scan is
// made first when no "-log" made one) or a list was loaded in an unattended run, the rows of
// every round that read its table are completed (a round that could not read it adds none and
// takes none away), and each file named after "-csv" or "-json" is written once, in the order
// named; a file that is not written counts as a report not written. A run with exports and no
// "-log" pauses and closes as a round does.
LogModeOutcome RunLogMode(const LogModeActions& actions);

}  // namespace tolvessa
