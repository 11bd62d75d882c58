// The Windows side of the inventory: the kernel's module table, file attributes, version
// resources, file content, and the system's directories.
#pragma once

#include <functional>
#include <string_view>
#include <utility>

#include "inventory/driver_scan.h"
#include "inventory/file_content.h"
#include "inventory/file_queries.h"
#include "inventory/kernel_path.h"
#include "inventory/version_info.h"

namespace tolvessa::win32 {

// The layout of the module table a process of this build gets from the kernel.
constexpr ModuleTableLayout kNativeModuleTableLayout =
    sizeof(void*) == 8 ? ModuleTableLayout::k64Bit : ModuleTableLayout::k32Bit;

// The call behind Win32ModuleTable, replaceable for tests: (buffer, length, &returned) → status.
using QuerySystemInformation =
    std::function<long(void* buffer, unsigned long length, unsigned long* returned)>;

// A module table whose paths are in the system's ANSI code page.
class AnsiModuleTable : public ModuleTableApi {
  public:
    Text DecodeAnsi(std::string_view ansi) override;
};

// The loaded-module table through NtQuerySystemInformation (class 11): a size query, a committed
// buffer of twice that size, the second query with the reported size. When a module is loaded
// between the two queries the second one fails for want of room; the table is then asked for
// afresh, a few times, before the snapshot counts as failed.
class Win32ModuleTable : public AnsiModuleTable {
  public:
    // The kernel's table.
    Win32ModuleTable();
    explicit Win32ModuleTable(QuerySystemInformation query, int attempts = 5)
        : query_(std::move(query)), attempts_(attempts) {}

    bool TakeSnapshot(const SnapshotVisitor& visit) override;

  private:
    QuerySystemInformation query_;
    int attempts_;
};

// A module table recorded in a file (the kernel's wire format, in the layout this build gets),
// read afresh for every snapshot; a file that cannot be read is a failed snapshot. For test
// builds that list chosen files.
class RecordedModuleTable : public AnsiModuleTable {
  public:
    explicit RecordedModuleTable(Text file) : file_(std::move(file)) {}

    bool TakeSnapshot(const SnapshotVisitor& visit) override;

  private:
    Text file_;
};

class Win32FileAttributes : public FileAttributeApi {
  public:
    Attributes ReadAttributes(const Text& path) override;
    std::optional<std::uint32_t> FindAttributes(const Text& path) override;
    std::uint32_t TryOpenForRead(const Text& path) override;
};

class Win32VersionApi : public VersionApi {
  public:
    VersionDataSize VersionInfoSize(const Text& path) override;
    bool ReadVersionInfo(const Text& path, std::uint32_t handle,
                         std::span<std::uint8_t> buffer) override;
    std::optional<VersionValue> QueryVersionValue(std::span<const std::uint8_t> block,
                                                  const Text& subBlock) override;
};

// CreateFileW, then an OpenFile retry in compatibility sharing (which admits writers); a
// read-only mapping of the whole file, or ReadFile where it cannot be mapped.
class Win32FileContent : public FileContentApi {
  public:
    std::unique_ptr<File> OpenForRead(const Text& path) override;
};

// GetWindowsDirectoryW, GetSystemDirectoryW and CharUpperBuffW.
class Win32Paths : public PathApi {
  public:
    Text WindowsDirectory() override;
    Text SystemDirectory() override;
    Text UpperCase(TextView text) override;
};

// The file, version and directory adapters of this system; the file adapters see the real
// System32 on 64-bit Windows.
class Win32Inventory {
  public:
    // The scan's view of this system, with the module table from `modules`.
    InventoryPlatform Platform(ModuleTableApi& modules) {
        return {modules, paths_, attributes_, versions_, content_};
    }

    Win32FileAttributes& Attributes() { return attributes_; }

  private:
    Win32FileAttributes attributes_;
    Win32VersionApi versions_;
    Win32FileContent content_;
    Win32Paths paths_;
};

// Enables every privilege value from 0 to 255 in the process token; failures pass unnoticed.
void EnableAllPrivileges();

}  // namespace tolvessa::win32
