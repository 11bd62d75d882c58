#include "platform/win32/win32_shell.h"

#include <windows.h>

#include <shellapi.h>

#include <algorithm>

#include "platform/win32/win32_handles.h"
#include "shell/product.h"

namespace tolvessa::win32 {

bool LogInsteadOfLaunching(const Text& verb, const Text& file, const Text& parameters, int show) {
    wchar_t log[MAX_PATH + 1] = {};
    const DWORD n = ::GetEnvironmentVariableW(L"TOLVESSA_SHELL_LOG", log, MAX_PATH + 1);
    if (n == 0 || n > MAX_PATH)
        return false;
    ScopedHandle out = OwnHandle(::CreateFileW(log, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                               OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!out)
        return true;
    const std::string line = TextToUtf8(verb + u"\t" + file + u"\t" + parameters + u"\t" +
                                        DecimalText(static_cast<unsigned>(show)) + u"\n");
    DWORD written = 0;
    ::WriteFile(out.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    return true;
}

void ShellLaunch(const Text& verb, const Text& file, const Text& parameters, int show) {
    if (LogInsteadOfLaunching(verb, file, parameters, show))
        return;
    ::ShellExecuteW(nullptr, Wide(verb), Wide(file),
                    parameters.empty() ? nullptr : Wide(parameters), nullptr, show);
}

int ApplicationMessageBox(const Text& text, unsigned flags) {
    return ::MessageBoxW(nullptr, Wide(text), L"" TOLVESSA_TITLE,
                         flags | MB_TOPMOST | MB_SYSTEMMODAL | MB_SETFOREGROUND);
}

Text ExecutableFolder() {
    wchar_t buffer[MAX_PATH + 1] = {};
    const DWORD n = ::GetModuleFileNameW(nullptr, buffer, MAX_PATH + 1);
    const Text path = FromWide(buffer, std::min<DWORD>(n, MAX_PATH + 1));
    const std::size_t last = path.find_last_of(u"\\:");
    return last == Text::npos ? Text() : path.substr(0, last + 1);
}

}  // namespace tolvessa::win32
