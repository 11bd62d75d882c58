// The unattended run of the main window ("-log", "-csv", "-json", "-vulnlist"), made on the
// window's thread before the window is shown.
#pragma once

#include <windows.h>

#include <functional>

#include "inventory/driver_scan.h"
#include "inventory/text.h"
#include "report/report_file.h"
#include "shell/log_mode.h"

namespace tolvessa::win32 {

// What the run writes from: the window's list, its status line and when the list was taken
// (UTC).
struct UnattendedSource {
    ReportFileApi& files;
    const DriverList& list;
    std::function<Text()> statusText;
    const SYSTEMTIME& listTaken;
};

// Runs the log mode over this process's command line. The window's part of `actions` (scan,
// loadList, completeRows, close) comes filled in; the rest is supplied here: the arguments, the
// pause, the lists beside the program, the report, the exports, and whether a row of the list
// matched a loaded list.
LogModeOutcome RunUnattended(LogModeActions actions, const UnattendedSource& source);

}  // namespace tolvessa::win32
