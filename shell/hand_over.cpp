#include "shell/hand_over.h"

namespace tolvessa {

Text HandOverCommandLine(CmdLineApi& cmdLine, const Text& program) {
    Text line = u"\"" + program + u"\"";
    const char16_t* cursor = cmdLine.CommandLine();
    if (!cursor)
        return line;
    // Past the program's name as the reader takes it: onto the blank that ends it, or the end.
    // The rest starts with that blank, so the quoted path stays a token of its own.
    NextCmdLineToken(cmdLine, cursor, nullptr, nullptr);
    line += cursor;
    return line;
}

std::optional<std::uint32_t> HandOver(HandOverApi& system, CmdLineApi& cmdLine) {
    if (!system.RunsUnderWow64())
        return std::nullopt;
    const Text self = system.ExecutablePath();
    const std::size_t last = self.find_last_of(u"\\:");
    if (last == Text::npos)
        return std::nullopt;
    const Text program = self.substr(0, last + 1) + Text(kSixtyFourBitProgram);
    // A 32-bit program that is itself named like the 64-bit one would only start itself again.
    if (SameFileName(program, self) || !system.IsFile(program))
        return std::nullopt;
    return system.RunAndWait(program, HandOverCommandLine(cmdLine, program));
}

}  // namespace tolvessa
