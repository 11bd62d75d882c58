#include "shell/log_mode.h"

namespace tolvessa {

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
