// The program's command line, split into arguments the way the shell's own argument reader
// does it: blanks separate, double quotes group, and backslashes escape a following quote.
#pragma once

#include <cstddef>

#include "inventory/text.h"

namespace tolvessa {

// The calls the command line is read through (GetCommandLineW, CharNextW and
// GetModuleFileNameW on Windows).
class CmdLineApi {
  public:
    virtual ~CmdLineApi() = default;
    // The whole command line, zero-terminated; it lives as long as the process.
    virtual const char16_t* CommandLine() = 0;
    // The position of the character after the one at `position`; at the terminating zero the
    // position itself.
    virtual const char16_t* NextCharacter(const char16_t* position) = 0;
    // The executable's full path.
    virtual Text ModulePath() = 0;
};

// Reads the token at the cursor and moves the cursor past it (onto the blank that ends it, or
// the terminating zero). Leading characters of code 1 to 32 are skipped first; false when
// nothing but them is left. With `out`, the token's characters are copied there (no zero is
// added); with `length`, their number is stored (0 when there is no token). A token may be
// empty (""), and then the result is still true.
bool NextCmdLineToken(CmdLineApi& platform, const char16_t*& cursor, char16_t* out,
                      std::size_t* length);

// The number of arguments after the program's name.
int CmdLineArgCount(CmdLineApi& platform);

// Argument `index`: the executable's full path for 0 (or less), whatever the command line says;
// the empty text past the last argument.
Text CmdLineArg(CmdLineApi& platform, int index);

}  // namespace tolvessa
