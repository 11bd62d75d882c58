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
    return CombineExitFlags(tableUnread, reportUnwritten, vulnerableDriverLoaded,
                            vulnerableListUnread);
}

LogModeOutcome RunLogMode(const LogModeActions& actions) {
    static constexpr TextView kLogSwitch = u"-log";
    LogModeOutcome outcome;
    const int count = actions.argCount();
    for (int index = 1; index <= count; ++index) {
        if (actions.arg(index) != kLogSwitch)
            continue;
        outcome.found = true;
        if (!actions.scan())
            outcome.tableUnread = true;
        if (!actions.writeReport(actions.arg(index + 1)))
            outcome.reportUnwritten = true;
        actions.pause(kLogModePauseMilliseconds);
        actions.close();
    }
    return outcome;
}

}  // namespace tolvessa
