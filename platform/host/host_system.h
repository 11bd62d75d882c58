// The system facts behind path resolution and path decoding, on a POSIX host.
#pragma once

#include "inventory/kernel_path.h"
#include "inventory/text.h"

namespace tolvessa::host {

// The Windows and system directories the host stands in for; with the drive map of HostPaths
// they lead to real folders (a Wine prefix's drive_c, say, or a test's temporary tree).
struct HostSystem : PathApi {
    Text windowsDirectory = u"C:\\windows";
    Text systemDirectory = u"C:\\windows\\system32";

    Text WindowsDirectory() override { return windowsDirectory; }
    Text SystemDirectory() override { return systemDirectory; }
    // UpperCaseKeepLength.
    Text UpperCase(TextView text) override;
};

// Upper-cases each UTF-16 code unit that has a one-unit upper-case form (Latin, Latin-1,
// Latin Extended-A, Greek and Cyrillic letters); the length never changes.
Text UpperCaseKeepLength(TextView text);

// The host's active 8-bit code page is UTF-8.
Text DecodeAnsi(std::string_view bytes);

}  // namespace tolvessa::host
