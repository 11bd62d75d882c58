// Everything the driver scan needs from a POSIX host, wired together.
#pragma once

#include <functional>
#include <string>

#include "inventory/driver_scan.h"
#include "platform/host/file_content.h"
#include "platform/host/host_paths.h"
#include "platform/host/host_system.h"
#include "platform/host/pe_version.h"
#include "platform/host/posix_file_attributes.h"

namespace tolvessa::host {

class HostInventory {
  public:
    // `driveC` is the host folder that stands for C: (holding "windows\system32"); empty leaves
    // C: unmapped.
    explicit HostInventory(const std::string& driveC = {});

    HostPaths& Paths() { return paths_; }
    HostSystem& System() { return system_; }

    // The scan's operations over this host, with the module table from `source`. The filter
    // check and the message pump default to "off" and "nothing waiting".
    ScanOperations Operations(SnapshotSource source,
                              std::function<bool()> hideMicrosoftDrivers = {},
                              std::function<void()> pumpMessages = {});

  private:
    HostPaths paths_;
    HostSystem system_;
    PosixFileAttributes attributes_{paths_};
    PeVersionApi versions_{paths_};
    PosixFileContent content_{paths_};
};

}  // namespace tolvessa::host
