// Windows-style paths on a POSIX file system, the way Wine sees them: drive letters map to
// host folders, "\" separates components, and names match without regard to case.
#pragma once

#include <map>
#include <string>

#include "inventory/text.h"

namespace tolvessa::host {

class HostPaths {
  public:
    // Z: maps to the host root, as under Wine.
    HostPaths();

    // Maps a drive letter (either case) to a host folder.
    void MapDrive(char16_t letter, std::string folder);

    // The host path for a Windows-style path: a mapped drive replaced by its folder, every "\"
    // turned into "/", "." and empty components dropped. A component that does not exist with
    // this exact spelling is looked up in its folder without regard to ASCII case. A path on an
    // unmapped drive, or one that holds a NUL, gives the empty string (which names nothing).
    // A relative path stays relative to the current directory.
    std::string ToHost(const Text& path) const;

  private:
    std::map<char16_t, std::string> drives_;
};

}  // namespace tolvessa::host
