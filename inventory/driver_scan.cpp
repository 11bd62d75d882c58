#include "inventory/driver_scan.h"

#include <utility>

namespace tolvessa {

const std::array<TextView, kColumnCount> kColumnCaptions = {
    u"Load Order",  u"Image Name", u"Base Address", u"Image Size", u"Publisher",
    u"Description", u"Version",    u"MD5 Hash",     u"Hidden",     u"Exists"};

namespace {
constexpr TextView kMicrosoft = u"Microsoft Corporation";
constexpr TextView kTrue = u"True";
constexpr TextView kFalse = u"False";
}  // namespace

// Marks the list as being filled for as long as it lives, also when a step throws.
class ScanLease {
  public:
    explicit ScanLease(DriverList& list) : list_(list) { list_.scanning_ = true; }
    ~ScanLease() { list_.scanning_ = false; }
    ScanLease(const ScanLease&) = delete;
    ScanLease& operator=(const ScanLease&) = delete;

    void Append(DriverRow row, bool fileExists) { list_.Append(std::move(row), fileExists); }

  private:
    DriverList& list_;
};

bool DriverList::Clear() {
    if (scanning_)
        return false;
    rows_.clear();
    digests_.clear();
    findings_.clear();
    exists_.clear();
    if (listener_.cleared)
        listener_.cleared();
    return true;
}

void DriverList::Append(DriverRow row, bool fileExists) {
    rows_.push_back(std::move(row));
    exists_.push_back(fileExists);
    digests_.emplace_back();
    findings_.emplace_back();
    if (listener_.rowAppended)
        listener_.rowAppended(rows_.size() - 1);
}

void DriverList::SetDigests(std::size_t index, FileDigests digests) {
    if (index >= digests_.size())
        return;
    digests_[index] = std::move(digests);
    if (listener_.digestsChanged)
        listener_.digestsChanged(index);
}

void DriverList::SetFindings(std::size_t index, RowFindings findings) {
    if (index >= findings_.size())
        return;
    findings_[index] = std::move(findings);
    if (listener_.digestsChanged)
        listener_.digestsChanged(index);
}

bool DriverList::AnyVulnerable() const {
    for (const RowFindings& findings : findings_) {
        if (!findings.vulnerable.empty())
            return true;
    }
    return false;
}

DriverRow BuildDriverRow(const ModuleEntry& entry, const Text& path,
                         const InventoryPlatform& platform, bool* fileExists) {
    DriverRow row;
    row[kLoadOrder] = DecimalText(entry.loadOrderIndex);
    row[kImageName] = path;
    row[kBaseAddress] = u"0x" + HexText(entry.imageBase, entry.addressDigits);
    row[kImageSize] = u"0x" + HexText(entry.imageSize);
    row[kPublisher] = GetFileCompanyName(platform.versions, path);
    row[kDescription] = GetFileDescription(platform.versions, path);
    row[kVersion] = GetFileProductVersion(platform.versions, path);
    // Each of the last three cells asks afresh whether the file is there.
    FileAttributeApi& attributes = platform.attributes;
    row[kMd5Hash] =
        FileExistsOnDisk(attributes, path) ? FileMd5Hex(platform.content, path) : Text();
    if (FileExistsOnDisk(attributes, path)) {
        row[kHidden] = Text(IsFileHidden(attributes, path) ? kTrue : kFalse);
    }
    const bool exists = FileExistsOnDisk(attributes, path);
    row[kExists] = Text(exists ? kTrue : kFalse);
    if (fileExists)
        *fileExists = exists;
    return row;
}

ScanResult ScanDrivers(DriverList& list, const InventoryPlatform& platform, ScanHost& host) {
    if (list.Scanning())
        return ScanResult::kRefused;
    ScanLease lease(list);

    bool taken = false;
    const bool ok = platform.modules.TakeSnapshot([&](const ModuleSnapshot& snapshot) {
        taken = true;
        const std::size_t count = snapshot.Count();
        for (std::size_t i = 0; i < count; ++i) {
            host.PumpMessages();

            const ModuleEntry entry = snapshot.Entry(i);
            Text path =
                ResolveKernelPath(platform.paths, platform.modules.DecodeAnsi(entry.fullPathName));
            if (!FileExistsOnDisk(platform.attributes, path)) {
                Text candidate = GetSystemDir(platform.paths) + u"\\drivers\\" + path;
                if (FileExistsOnDisk(platform.attributes, candidate))
                    path = std::move(candidate);
            }
            if (host.HideMicrosoftDrivers() &&
                GetFileCompanyName(platform.versions, path) == kMicrosoft) {
                continue;
            }
            bool exists = false;
            DriverRow row = BuildDriverRow(entry, path, platform, &exists);
            lease.Append(std::move(row), exists);
        }
    });
    return ok && taken ? ScanResult::kCompleted : ScanResult::kSnapshotFailed;
}

}  // namespace tolvessa
