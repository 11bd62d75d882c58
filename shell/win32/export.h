// "Export": the export-style report of the list, saved where the user chooses.
#pragma once

#include <windows.h>

#include "inventory/driver_scan.h"
#include "inventory/text.h"
#include "report/report_file.h"

namespace tolvessa::win32 {

// Puts the report together from the list as it is now, then asks for a file name in the save
// dialog (proposing "KernelDrivers" on the desktop) and writes the report there, replacing a
// file that is there without asking. Nothing when the list is empty or the dialog is cancelled.
void ExportDriverReport(HWND owner, ReportFileApi& files, const DriverList& list,
                        const Text& statusText);

}  // namespace tolvessa::win32
