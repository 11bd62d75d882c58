#include "platform/host/host_inventory.h"

namespace tolvessa::host {

HostInventory::HostInventory(const std::string& driveC) {
    if (!driveC.empty())
        paths_.MapDrive(u'C', driveC);
}

InventoryPlatform HostInventory::Platform(ModuleTableApi& modules) {
    return {modules, system_, attributes_, versions_, content_};
}

}  // namespace tolvessa::host
