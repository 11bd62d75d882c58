// Turns the kernel's names for image files into file-system paths.
#pragma once

#include <functional>

#include "inventory/text.h"

namespace tolvessa {

// The platform reads behind path resolution.
struct PathPlatform {
    // The Windows directory as reported (GetWindowsDirectoryW into a zero-filled buffer of 260
    // characters): anything after the first NUL is ignored.
    std::function<Text()> windowsDirectory;
    // The system directory (GetSystemDirectoryW, 261 characters); empty on failure.
    std::function<Text()> systemDirectory;
    // Upper-cases every character without changing the length (CharUpperBuffW).
    std::function<Text(TextView)> upperCase;
};

// The Windows directory prefix W: cut at the first NUL and to 260 characters, blanks trimmed,
// a backslash appended unless present; "\" when the platform reports nothing.
Text WindowsDirPrefix(const PathPlatform& platform);

Text ResolveKernelPath(const PathPlatform& platform, const Text& path);
Text GetSystemDir(const PathPlatform& platform);

// Replacement passes: left to right, never searching inserted text, never overlapping.
Text ReplaceAll(TextView text, TextView pattern, TextView replacement);
Text ReplaceFirstIgnoringCase(const PathPlatform& platform, TextView text, TextView pattern,
                              TextView replacement);

}  // namespace tolvessa
