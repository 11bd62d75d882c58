#include "shell/win32/win32_process.h"

#include <windows.h>

#include <vector>

#include "platform/win32/win32_handles.h"
#include "platform/win32/win32_shell.h"

namespace tolvessa::win32 {

const char16_t* Win32CmdLine::CommandLine() {
    return reinterpret_cast<const char16_t*>(::GetCommandLineW());
}

const char16_t* Win32CmdLine::NextCharacter(const char16_t* position) {
    return reinterpret_cast<const char16_t*>(
        ::CharNextW(reinterpret_cast<const wchar_t*>(position)));
}

Text Win32CmdLine::ModulePath() {
    return win32::ExecutablePath();
}

bool Win32HandOver::RunsUnderWow64() {
    return win32::RunsUnderWow64();
}

Text Win32HandOver::ExecutablePath() {
    return win32::ExecutablePath();
}

bool Win32HandOver::IsFile(const Text& path) {
    const DWORD attributes = ::GetFileAttributesW(Wide(path));
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::optional<std::uint32_t> Win32HandOver::RunAndWait(const Text& program,
                                                       const Text& commandLine) {
    // The show state this process was given goes on to the other one; nothing else of its
    // start-up information does (no handles are inherited).
    STARTUPINFOW own = {};
    own.cb = sizeof own;
    ::GetStartupInfoW(&own);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = own.dwFlags & STARTF_USESHOWWINDOW;
    startup.wShowWindow = own.wShowWindow;

    // CreateProcessW may write to the command line: it gets a copy of its own.
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');
    PROCESS_INFORMATION process = {};
    if (!::CreateProcessW(Wide(program), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &process)) {
        return std::nullopt;
    }
    const ScopedHandle processHandle = OwnHandle(process.hProcess);
    const ScopedHandle threadHandle = OwnHandle(process.hThread);
    // The other program has started, so its run is the run: an exit code that cannot be read
    // is reported as 0xFFFFFFFF, never as a reason to run again here.
    DWORD exitCode = 0;
    if (::WaitForSingleObject(processHandle.get(), INFINITE) != WAIT_OBJECT_0 ||
        !::GetExitCodeProcess(processHandle.get(), &exitCode)) {
        return 0xFFFFFFFFu;
    }
    return exitCode;
}

}  // namespace tolvessa::win32
