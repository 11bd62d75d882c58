// The module table on a host without a kernel table to read: recorded bytes from a file.
#pragma once

#include <string>

#include "inventory/module_snapshot.h"

namespace tolvessa::host {

// A snapshot source that reads the recording at `file` afresh for every scan; a file that
// cannot be read is a failed snapshot.
SnapshotSource RecordedSnapshotSource(std::string file);

// A snapshot source over bytes held in memory.
SnapshotSource InMemorySnapshotSource(std::vector<std::uint8_t> bytes);

}  // namespace tolvessa::host
