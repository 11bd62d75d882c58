#include "platform/host/host_inventory.h"

#include "inventory/file_queries.h"
#include "inventory/kernel_path.h"
#include "inventory/md5.h"
#include "inventory/version_info.h"

namespace tolvessa::host {

HostInventory::HostInventory(const std::string& driveC) {
    if (!driveC.empty())
        paths_.MapDrive(u'C', driveC);
}

ScanOperations HostInventory::Operations(SnapshotSource source,
                                         std::function<bool()> hideMicrosoftDrivers,
                                         std::function<void()> pumpMessages) {
    ScanOperations ops;
    ops.takeSnapshot = std::move(source);
    ops.decodeAnsi = DecodeAnsi;
    ops.resolveKernelPath = [this](const Text& path) {
        return ResolveKernelPath(system_, path);
    };
    ops.getSystemDir = [this] { return GetSystemDir(system_); };
    ops.fileExistsOnDisk = [this](const Text& path) { return FileExistsOnDisk(attributes_, path); };
    ops.isFileHidden = [this](const Text& path) { return IsFileHidden(attributes_, path); };
    ops.getFileCompanyName = [this](const Text& path) {
        return GetFileCompanyName(versions_, path);
    };
    ops.getFileDescription = [this](const Text& path) {
        return GetFileDescription(versions_, path);
    };
    ops.getFileProductVersion = [this](const Text& path) {
        return GetFileProductVersion(versions_, path);
    };
    ops.fileMd5Hex = [this](const Text& path) { return FileMd5Hex(content_, path); };
    ops.hideMicrosoftDrivers = hideMicrosoftDrivers ? std::move(hideMicrosoftDrivers)
                                                    : std::function<bool()>([] { return false; });
    ops.pumpMessages = pumpMessages ? std::move(pumpMessages) : std::function<void()>([] {});
    return ops;
}

}  // namespace tolvessa::host
