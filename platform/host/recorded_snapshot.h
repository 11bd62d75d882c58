// The module table on a host without a kernel table to read: recorded bytes, with paths in the
// host's code page.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "inventory/module_snapshot.h"

namespace tolvessa::host {

// A table whose paths are in the host's code page.
class HostModuleTable : public ModuleTableApi {
  public:
    Text DecodeAnsi(std::string_view ansi) override;
};

// The recording at `file`, in the given layout, read afresh for every snapshot; a file that
// cannot be read is a failed snapshot.
class RecordedModuleTable : public HostModuleTable {
  public:
    RecordedModuleTable(std::string file, ModuleTableLayout layout)
        : file_(std::move(file)), layout_(layout) {}
    bool TakeSnapshot(const SnapshotVisitor& visit) override;

  private:
    std::string file_;
    ModuleTableLayout layout_;
};

// A table whose bytes are held in memory.
class InMemoryModuleTable : public HostModuleTable {
  public:
    InMemoryModuleTable(std::vector<std::uint8_t> bytes, ModuleTableLayout layout)
        : bytes_(std::move(bytes)), layout_(layout) {}
    bool TakeSnapshot(const SnapshotVisitor& visit) override;

  private:
    std::vector<std::uint8_t> bytes_;
    ModuleTableLayout layout_;
};

}  // namespace tolvessa::host
