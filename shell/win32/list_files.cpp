#include "shell/win32/list_files.h"

#include <commdlg.h>

#include <algorithm>
#include <iterator>
#include <string>

#include "platform/win32/win32_handles.h"
#include "platform/win32/win32_shell.h"

namespace tolvessa::win32 {

std::vector<Text> ListsBesideProgram() {
    const Text executableFolder = ExecutableFolder();
    if (executableFolder.empty())
        return {};
    const std::wstring folder = std::wstring(Wide(executableFolder)) + L"vulnlists\\";
    WIN32_FIND_DATAW found = {};
    const HANDLE first = ::FindFirstFileW((folder + L"*").c_str(), &found);
    std::vector<Text> lists;
    if (first == INVALID_HANDLE_VALUE)
        return lists;
    const ScopedFind find(first);
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        const std::wstring name = found.cFileName;
        if (name.size() < 5)
            continue;
        const std::wstring extension = name.substr(name.size() - 4);
        if (::lstrcmpiW(extension.c_str(), L".csv") != 0 &&
            ::lstrcmpiW(extension.c_str(), L".xml") != 0) {
            continue;
        }
        lists.push_back(FromWide((folder + name).c_str()));
    } while (::FindNextFileW(find.get(), &found));
    std::sort(lists.begin(), lists.end());
    return lists;
}

std::optional<Text> AskForListFile(HWND owner) {
    wchar_t fileName[32768] = L"";
    OPENFILENAMEW dialog = {};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter =
        L"Vulnerable Driver Lists (*.csv;*.xml)\0*.csv;*.xml\0All Files (*.*)\0*.*\0";
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = fileName;
    dialog.nMaxFile = static_cast<DWORD>(std::size(fileName));
    dialog.lpstrTitle = L"Load Vulnerable Driver List";
    dialog.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
    if (!::GetOpenFileNameW(&dialog))
        return std::nullopt;
    return FromWide(fileName);
}

ListLoadResult LoadListTelling(HWND owner, const Text& caption, VulnerableLists& lists,
                               FileContentApi& content, const Text& fileName, bool tellFailure) {
    const ListLoadReport report = LoadListFile(lists, content, fileName);
    if (report.error.empty() && report.cutAt.empty())
        return ListLoadResult::kLoaded;
    if (tellFailure) {
        ::MessageBoxW(owner, Wide(ListLoadFailureText(report)), Wide(caption),
                      MB_OK | MB_ICONWARNING);
    }
    return report.error.empty() ? ListLoadResult::kCutShort : ListLoadResult::kUnread;
}

}  // namespace tolvessa::win32
