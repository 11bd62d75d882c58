// Everything the driver scan needs from a POSIX host, wired together.
#pragma once

#include <string>

#include "inventory/driver_scan.h"
#include "platform/host/file_content.h"
#include "platform/host/host_paths.h"
#include "platform/host/host_system.h"
#include "platform/host/pe_version.h"
#include "platform/host/posix_file_attributes.h"

namespace tolvessa::host {

// A scan without a window: the filter mark fixed, no messages to handle.
class FixedScanHost : public ScanHost {
  public:
    explicit FixedScanHost(bool hideMicrosoftDrivers = false) : hide_(hideMicrosoftDrivers) {}
    bool HideMicrosoftDrivers() override { return hide_; }
    void PumpMessages() override {}

  private:
    bool hide_;
};

class HostInventory {
  public:
    // `driveC` is the host folder that stands for C: (holding "windows\system32"); empty leaves
    // C: unmapped.
    explicit HostInventory(const std::string& driveC = {});

    HostPaths& Paths() { return paths_; }
    HostSystem& System() { return system_; }

    // The scan's view of this host, with the module table from `modules`.
    InventoryPlatform Platform(ModuleTableApi& modules);

  private:
    HostPaths paths_;
    HostSystem system_;
    PosixFileAttributes attributes_{paths_};
    PeVersionApi versions_{paths_};
    PosixFileContent content_{paths_};
};

}  // namespace tolvessa::host
