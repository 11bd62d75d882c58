// Turns the kernel's names for image files into file-system paths.
#pragma once

#include "inventory/text.h"

namespace tolvessa {

// The platform reads behind path resolution.
class PathApi {
  public:
    virtual ~PathApi() = default;
    // The Windows directory as reported (GetWindowsDirectoryW into a zero-filled buffer of 260
    // characters): anything after the first NUL is ignored.
    virtual Text WindowsDirectory() = 0;
    // The system directory (GetSystemDirectoryW, 261 characters); empty on failure.
    virtual Text SystemDirectory() = 0;
    // Upper-cases every character without changing the length (CharUpperBuffW).
    virtual Text UpperCase(TextView text) = 0;
};

// The Windows directory prefix W: cut at the first NUL and to 260 characters, blanks trimmed,
// a backslash appended unless present; "\" when the platform reports nothing.
Text WindowsDirPrefix(PathApi& platform);

Text ResolveKernelPath(PathApi& platform, const Text& path);
Text GetSystemDir(PathApi& platform);

// Replacement passes: left to right, never searching inserted text, never overlapping.
Text ReplaceAll(TextView text, TextView pattern, TextView replacement);
Text ReplaceFirstIgnoringCase(PathApi& platform, TextView text, TextView pattern,
                              TextView replacement);

}  // namespace tolvessa
