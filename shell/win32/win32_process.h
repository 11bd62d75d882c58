// The program's own process on Windows: its command line, and the hand-over of a 32-bit run on
// 64-bit Windows to the 64-bit program.
#pragma once

#include "shell/cmd_line.h"
#include "shell/hand_over.h"

namespace tolvessa::win32 {

// The program's command line: GetCommandLineW, CharNextW and the executable's path.
class Win32CmdLine : public CmdLineApi {
  public:
    const char16_t* CommandLine() override;
    const char16_t* NextCharacter(const char16_t* position) override;
    Text ModulePath() override;
};

// IsWow64Process (looked up at run time; never asked in a 64-bit build), GetModuleFileNameW,
// GetFileAttributesW, and CreateProcessW with the show state this process was started with, then
// the wait for the process and its exit code.
class Win32HandOver : public HandOverApi {
  public:
    bool RunsUnderWow64() override;
    Text ExecutablePath() override;
    bool IsFile(const Text& path) override;
    std::optional<std::uint32_t> RunAndWait(const Text& program, const Text& commandLine) override;
};

}  // namespace tolvessa::win32
