#include "shell/win32/export.h"

#include <commdlg.h>
#include <shlobj.h>

#include <cwchar>
#include <iterator>
#include <string>
#include <vector>

#include "platform/win32/win32_handles.h"
#include "report/driver_report.h"
#include "report/exports.h"
#include "tolvessa_product.h"

namespace tolvessa::win32 {

namespace {

// The file-system path of a shell special folder (a CSIDL value), or the empty text.
Text GetSpecialFolderPath(int csidl) {
    ITEMIDLIST* raw = nullptr;
    if (::SHGetSpecialFolderLocation(nullptr, csidl, &raw) != S_OK)
        return {};
    ScopedCoTaskMem<ITEMIDLIST> list(raw);
    wchar_t buffer[MAX_PATH + 1] = {};
    if (!::SHGetPathFromIDListW(list.get(), buffer))
        return {};
    return FromWide(buffer, ::wcsnlen(buffer, MAX_PATH + 1));
}

}  // namespace

std::string ExportText(ExportKind kind, const std::vector<ModuleRecord>& records,
                       const SYSTEMTIME& taken) {
    if (kind == ExportKind::kCsv)
        return ExportCsv(records);
    ExportContext context;
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD length = static_cast<DWORD>(std::size(name));
    if (::GetComputerNameW(name, &length))
        context.computerName = FromWide(name, length);
    context.time = {taken.wYear, taken.wMonth,  taken.wDay,
                    taken.wHour, taken.wMinute, taken.wSecond};
    context.bits = sizeof(void*) == 8 ? 64 : 32;
    return ExportJson(context, records);
}

void ExportDriverList(HWND owner, ReportFileApi& files, const DriverList& list,
                      const Text& statusText, const SYSTEMTIME& taken) {
    if (list.Count() == 0)
        return;
    // The list is taken before the dialog opens: what is written is the list as it was now.
    const Text text = JoinReportLines(DriverReportLines(list, TOLVESSA_U(TOLVESSA_TITLE),
                                                        TOLVESSA_U(TOLVESSA_HOST_NAME), statusText,
                                                        ReportStyle::kExport));
    const std::vector<ModuleRecord> records = ModuleRecords(list);

    const Text desktop = GetSpecialFolderPath(CSIDL_DESKTOPDIRECTORY);
    wchar_t fileName[32768] = L"KernelDrivers";
    OPENFILENAMEW dialog = {};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter =
        L"Log File (*.log)\0*.log\0CSV File (*.csv)\0*.csv\0JSON File (*.json)\0*.json\0";
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = fileName;
    dialog.nMaxFile = static_cast<DWORD>(std::size(fileName));
    dialog.lpstrInitialDir = desktop.empty() ? nullptr : Wide(desktop);
    dialog.lpstrTitle = L"Save file as...";
    // The dialog adds the chosen filter's extension to a name without one.
    dialog.lpstrDefExt = L"log";
    // Exactly "the file must exist": no overwrite prompt.
    dialog.Flags = OFN_FILEMUSTEXIST;
    if (!::GetSaveFileNameW(&dialog))
        return;
    const Text chosen = FromWide(fileName);
    switch (dialog.nFilterIndex) {
        case 2:
            WriteExportFile(files, chosen, ExportText(ExportKind::kCsv, records, taken));
            break;
        case 3:
            WriteExportFile(files, chosen, ExportText(ExportKind::kJson, records, taken));
            break;
        default:
            WriteReportText(files, chosen, text);
            break;
    }
}

}  // namespace tolvessa::win32
