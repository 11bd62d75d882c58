#include "platform/win32/win32_shell.h"

#include <windows.h>

#include <shellapi.h>

#include <algorithm>

#include "platform/win32/win32_handles.h"
#include "tolvessa_product.h"

namespace tolvessa::win32 {

void Win32Shell::Launch(const Text& verb, const Text& file, const Text& parameters, int show) {
    ::ShellExecuteW(nullptr, Wide(verb), Wide(file),
                    parameters.empty() ? nullptr : Wide(parameters), nullptr, show);
}

bool Win32Shell::ShowProperties(const Text& path) {
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_INVOKEIDLIST | SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    info.hwnd = nullptr;
    info.lpVerb = L"properties";
    info.lpFile = Wide(path);
    info.lpParameters = nullptr;
    info.lpDirectory = nullptr;
    info.nShow = SW_SHOWNORMAL;
    const bool shown = ::ShellExecuteExW(&info) != FALSE;
    // The sheet runs in this process; a process handle, should the shell give one, is not needed.
    const ScopedHandle process = OwnHandle(info.hProcess);
    return shown;
}

int ApplicationMessageBox(const Text& text, unsigned flags) {
    return ::MessageBoxW(nullptr, Wide(text), L"" TOLVESSA_TITLE,
                         flags | MB_TOPMOST | MB_SYSTEMMODAL | MB_SETFOREGROUND);
}

void ShowMessage(MessageKind kind, const Text& text) {
    ApplicationMessageBox(
        text, MB_OK | (kind == MessageKind::kWarning ? MB_ICONWARNING : MB_ICONINFORMATION));
}

bool AskYesNo(const Text& text) {
    return ApplicationMessageBox(text, MB_ICONQUESTION | MB_YESNO | MB_DEFBUTTON1) != IDNO;
}

std::optional<SystemFolderAlias> ShellSystemFolderAlias() {
    if (!RunsUnderWow64())
        return std::nullopt;
    wchar_t system[MAX_PATH + 1] = {};
    const UINT systemLength = ::GetSystemDirectoryW(system, MAX_PATH + 1);
    wchar_t windows[MAX_PATH + 1] = {};
    const UINT windowsLength = ::GetWindowsDirectoryW(windows, MAX_PATH + 1);
    if (systemLength == 0 || systemLength > MAX_PATH || windowsLength == 0 ||
        windowsLength > MAX_PATH) {
        return std::nullopt;
    }
    Text alias = FromWide(windows, windowsLength);
    if (alias.back() != u'\\')
        alias += u'\\';
    return SystemFolderAlias{FromWide(system, systemLength), alias + u"Sysnative"};
}

Text ExecutablePath() {
    wchar_t buffer[MAX_PATH + 1] = {};
    const DWORD n = ::GetModuleFileNameW(nullptr, buffer, MAX_PATH + 1);
    return FromWide(buffer, std::min<DWORD>(n, MAX_PATH + 1));
}

Text ExecutableFolder() {
    const Text path = ExecutablePath();
    const std::size_t last = path.find_last_of(u"\\:");
    return last == Text::npos ? Text() : path.substr(0, last + 1);
}

}  // namespace tolvessa::win32
