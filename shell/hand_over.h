// The 32-bit program on 64-bit Windows hands its whole run over to the 64-bit program beside it:
// a 32-bit process gets the kernel's module table through the WOW64 layer, whose entries cannot
// hold kernel addresses.
#pragma once

#include <cstdint>
#include <optional>

#include "inventory/text.h"
#include "shell/cmd_line.h"

namespace tolvessa {

// The file the 32-bit program hands over to, in its own folder.
inline constexpr TextView kSixtyFourBitProgram = u"Tolvessa64.exe";

// What the hand-over asks of the system (IsWow64Process, GetModuleFileNameW, GetFileAttributesW,
// CreateProcessW and the wait for the process on Windows).
class HandOverApi {
  public:
    virtual ~HandOverApi() = default;
    // Whether this process is a 32-bit one on 64-bit Windows; never in a 64-bit build.
    virtual bool RunsUnderWow64() = 0;
    // The running executable's full path.
    virtual Text ExecutablePath() = 0;
    // Whether `path` names a file (not a folder).
    virtual bool IsFile(const Text& path) = 0;
    // Starts `program` with `commandLine` (the whole line, program name first), in this
    // process's current folder and with its show state, and waits for it to end: its exit code
    // (0xFFFFFFFF when that cannot be read), or nothing when it could not be started.
    virtual std::optional<std::uint32_t> RunAndWait(const Text& program,
                                                    const Text& commandLine) = 0;
};

// The command line that gives `program` the same arguments as this process: the program's path
// in quotes, then this command line's text after its first token, exactly as it stands (so the
// other program's command-line reader finds the same arguments, one for one).
Text HandOverCommandLine(CmdLineApi& cmdLine, const Text& program);

// Runs the 64-bit program in this one's stead when this process runs under WOW64 and the
// program is in its folder: its exit code, which this process ends with. Nothing when there is
// no reason or no way to hand over (not under WOW64, no such file, it could not be started);
// this process then does the work itself.
std::optional<std::uint32_t> HandOver(HandOverApi& system, CmdLineApi& cmdLine);

}  // namespace tolvessa
