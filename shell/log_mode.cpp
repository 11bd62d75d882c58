#include "shell/log_mode.h"

namespace tolvessa {

bool RunLogMode(const LogModeActions& actions) {
    static constexpr TextView kLogSwitch = u"-log";
    bool found = false;
    const int count = actions.argCount();
    for (int index = 1; index <= count; ++index) {
        if (actions.arg(index) != kLogSwitch)
            continue;
        found = true;
        actions.scan();
        actions.writeReport(actions.arg(index + 1));
        actions.pause(kLogModePauseMilliseconds);
        actions.close();
    }
    return found;
}

}  // namespace tolvessa
