#include "shell/log_mode.h"

namespace tolvessa {

int CombineExitFlags(bool tableUnread, bool reportUnwritten, bool vulnerableDriverLoaded,
                     bool vulnerableListUnread) {
    return (tableUnread ? kExitModuleTableUnread : 0) |
           (reportUnwritten ? kExitReportUnwritten : 0) |
           (vulnerableDriverLoaded ? kExitVulnerableDriverLoaded : 0) |
           (vulnerableListUnread ? kExitVulnerableListUnread : 0);
}

int LogModeOutcome::ExitCode() const {
    if (!found)
        return 0;
    return CombineExitFlags(tableUnread, reportUnwritten, vulnerableDriverLoaded,
                            vulnerableListUnread);
}

LogModeOutcome RunLogMode(const LogModeActions& actions) {
    static constexpr TextView kLogSwitch = u"-log";
    static constexpr TextView kCsvSwitch = u"-csv";
    static constexpr TextView kJsonSwitch = u"-json";
    static constexpr TextView kListSwitch = u"-vulnlist";
    LogModeOutcome outcome;
    const int count = actions.argCount();

    // What the command line asks for beside the rounds. As with "-log", a switch takes the
    // argument after it, whatever it reads, and every argument that is exactly a switch counts.
    struct Export {
        ExportKind kind;
        Text fileName;
    };
    std::vector<Export> exports;
    std::vector<Text> lists;
    bool anyRound = false;
    for (int index = 1; index <= count; ++index) {
        const Text arg = actions.arg(index);
        if (arg == kLogSwitch) {
            anyRound = true;
        } else if (arg == kCsvSwitch || arg == kJsonSwitch) {
            exports.push_back(
                {arg == kCsvSwitch ? ExportKind::kCsv : ExportKind::kJson, actions.arg(index + 1)});
        } else if (arg == kListSwitch) {
            lists.push_back(actions.arg(index + 1));
        }
    }
    const bool unattended = anyRound || !exports.empty();

    bool listLoaded = false;
    if (actions.loadList) {
        std::vector<Text> all = actions.defaultLists ? actions.defaultLists() : std::vector<Text>();
        all.insert(all.end(), lists.begin(), lists.end());
        for (const Text& list : all) {
            const ListLoadResult result = actions.loadList(list, unattended);
            if (result != ListLoadResult::kUnread)
                listLoaded = true;
            if (result != ListLoadResult::kLoaded && unattended)
                outcome.vulnerableListUnread = true;
        }
    }
    // An interactive run has told of its lists in messages; its exit code is 0.
    if (!unattended)
        return outcome;
    outcome.found = true;

    // The rounds add their rows to one list and a round whose table is unread adds none, so the
    // rows of every round that read its table are still there after the last round, whatever
    // that one did: they are completed (judged and matched) once, at the end.
    bool scanned = false;
    bool anyTableRead = false;
    for (int index = 1; index <= count; ++index) {
        if (actions.arg(index) != kLogSwitch)
            continue;
        const bool tableRead = actions.scan();
        scanned = true;
        if (tableRead)
            anyTableRead = true;
        else
            outcome.tableUnread = true;
        if (!actions.writeReport(actions.arg(index + 1)))
            outcome.reportUnwritten = true;
        actions.pause(kLogModePauseMilliseconds);
        actions.close();
    }

    if (exports.empty() && !listLoaded)
        return outcome;
    if (!scanned) {
        anyTableRead = actions.scan();
        if (!anyTableRead)
            outcome.tableUnread = true;
    }
    if (anyTableRead && actions.completeRows)
        actions.completeRows();
    for (const Export& file : exports) {
        if (!actions.writeExport || !actions.writeExport(file.kind, file.fileName))
            outcome.reportUnwritten = true;
    }
    if (listLoaded && actions.anyVulnerable && actions.anyVulnerable())
        outcome.vulnerableDriverLoaded = true;
    if (!scanned) {
        actions.pause(kLogModePauseMilliseconds);
        actions.close();
    }
    return outcome;
}

}  // namespace tolvessa
