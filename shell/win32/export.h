// "Export": the export-style report of the list, or the list as CSV or JSON, saved where the
// user chooses; and the CSV and JSON texts of the list as this program writes them.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "inventory/driver_scan.h"
#include "inventory/text.h"
#include "report/exports.h"
#include "report/report_file.h"
#include "shell/log_mode.h"

namespace tolvessa::win32 {

// Asks for a file name in the save dialog (proposing "KernelDrivers" on the desktop), with the
// filters "Log File (*.log)", "CSV File (*.csv)" and "JSON File (*.json)", and writes the list
// there as of when the dialog opened, replacing a file that is there without asking: the
// export-style report, or the CSV or JSON text, as the chosen filter says. Nothing when the list
// is empty or the dialog is cancelled.
void ExportDriverList(HWND owner, ReportFileApi& files, const DriverList& list,
                      const Text& statusText, const SYSTEMTIME& taken);

// The list as CSV or JSON, the JSON document naming this computer, `taken` (when the list was
// taken, UTC) and the build.
std::string ExportText(ExportKind kind, const std::vector<ModuleRecord>& records,
                       const SYSTEMTIME& taken);

}  // namespace tolvessa::win32
