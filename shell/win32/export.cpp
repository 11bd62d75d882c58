#include "shell/win32/export.h"

#include <commdlg.h>
#include <shlobj.h>

#include <cwchar>
#include <iterator>

#include "platform/win32/win32_handles.h"
#include "report/driver_report.h"
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

void ExportDriverReport(HWND owner, ReportFileApi& files, const DriverList& list,
                        const Text& statusText) {
    if (list.Count() == 0)
        return;
    // The report is put together before the dialog opens: it holds the list as it was now.
    const Text text = JoinReportLines(DriverReportLines(list, TOLVESSA_U(TOLVESSA_TITLE),
                                                        TOLVESSA_U(TOLVESSA_HOST_NAME), statusText,
                                                        ReportStyle::kExport));

    const Text desktop = GetSpecialFolderPath(CSIDL_DESKTOPDIRECTORY);
    wchar_t fileName[32768] = L"KernelDrivers";
    OPENFILENAMEW dialog = {};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = L"Log File (*.log)\0*.log\0";
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = fileName;
    dialog.nMaxFile = static_cast<DWORD>(std::size(fileName));
    dialog.lpstrInitialDir = desktop.empty() ? nullptr : Wide(desktop);
    dialog.lpstrTitle = L"Save file as...";
    dialog.lpstrDefExt = L"log";
    // Exactly "the file must exist": no overwrite prompt.
    dialog.Flags = OFN_FILEMUSTEXIST;
    if (!::GetSaveFileNameW(&dialog))
        return;
    WriteReportText(files, FromWide(fileName), text);
}

}  // namespace tolvessa::win32
