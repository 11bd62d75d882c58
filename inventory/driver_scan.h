// The driver list and the scan that fills it: one row per loaded kernel module.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <string_view>
#include <vector>

#include "inventory/file_digests.h"
#include "inventory/file_queries.h"
#include "inventory/kernel_path.h"
#include "inventory/md5.h"
#include "inventory/module_snapshot.h"
#include "inventory/row_findings.h"
#include "inventory/text.h"
#include "inventory/version_info.h"

namespace tolvessa {

enum DriverColumn : std::size_t {
    kLoadOrder,
    kImageName,
    kBaseAddress,
    kImageSize,
    kPublisher,
    kDescription,
    kVersion,
    kMd5Hash,
    kHidden,
    kExists,
    kColumnCount
};

// Column captions, in column order.
extern const std::array<TextView, kColumnCount> kColumnCaptions;

// Ten text cells; the first is the row's caption, the other nine its sub-items.
struct DriverRow {
    std::array<Text, kColumnCount> cells;

    const Text& operator[](std::size_t column) const { return cells[column]; }
    Text& operator[](std::size_t column) { return cells[column]; }
    bool operator==(const DriverRow&) const = default;
};

// What the scan reads of the system: one build's adapters, each behind its own interface.
struct InventoryPlatform {
    ModuleTableApi& modules;
    PathApi& paths;
    FileAttributeApi& attributes;
    VersionApi& versions;
    FileContentApi& content;
};

// What the window lends a scan while it runs.
class ScanHost {
  public:
    virtual ~ScanHost() = default;
    // Whether "Microsoft Corporation" files are left out; read afresh for every entry.
    virtual bool HideMicrosoftDrivers() = 0;
    // Handles the window messages already waiting; never waits for more.
    virtual void PumpMessages() = 0;
};

// The driver list: the only store of scan results. It refuses to be emptied or filled by a
// second scan while one scan is adding rows, so a refresh asked for in the middle of a scan
// (through the message pump) cannot disturb it.
class DriverList {
  public:
    struct Listener {
        std::function<void(std::size_t index)> rowAppended;
        std::function<void()> cleared;
        // The row's digests or findings were set.
        std::function<void(std::size_t index)> digestsChanged;
    };

    std::size_t Count() const { return rows_.size(); }
    const DriverRow& Row(std::size_t index) const { return rows_[index]; }
    const std::vector<DriverRow>& Rows() const { return rows_; }
    // Whether the row's file was there when the row was made: what its "Exists" cell says.
    bool FileExists(std::size_t index) const { return exists_[index]; }

    // The row's digests beyond MD5: empty cells until they are set.
    const FileDigests& Digests(std::size_t index) const { return digests_[index]; }
    // Sets them for a row of the list; an index past the end is ignored.
    void SetDigests(std::size_t index, FileDigests digests);

    // The row's signature verdict and vulnerable-list matches: none until they are set.
    const RowFindings& Findings(std::size_t index) const { return findings_[index]; }
    // Sets them for a row of the list; an index past the end is ignored.
    void SetFindings(std::size_t index, RowFindings findings);
    // True when some row matched a vulnerable-driver list.
    bool AnyVulnerable() const;

    // True while a scan is adding rows.
    bool Scanning() const { return scanning_; }

    // Removes every row. Refused (false, nothing removed) while a scan is running.
    bool Clear();

    void SetListener(Listener listener) { listener_ = std::move(listener); }

  private:
    friend class ScanLease;
    void Append(DriverRow row, bool fileExists);

    std::vector<DriverRow> rows_;
    std::vector<FileDigests> digests_;
    std::vector<RowFindings> findings_;
    std::vector<bool> exists_;
    bool scanning_ = false;
    Listener listener_;
};

enum class ScanResult {
    kCompleted,       // the snapshot was walked; rows were added for every entry let through
    kSnapshotFailed,  // no snapshot: no rows, the list as it was
    kRefused,         // another scan is filling this list: nothing done
};

// Takes one snapshot and appends one row per entry that the filter lets through, in snapshot
// order, pumping the host's messages before each entry; always walks the whole snapshot. Never
// empties the list.
ScanResult ScanDrivers(DriverList& list, const InventoryPlatform& platform, ScanHost& host);

// One row as the scan makes it from an entry whose path text is already decoded; `fileExists`,
// when set, gets what its "Exists" cell says.
DriverRow BuildDriverRow(const ModuleEntry& entry, const Text& path,
                         const InventoryPlatform& platform, bool* fileExists = nullptr);

}  // namespace tolvessa
