#include "platform/host/recorded_snapshot.h"

#include <fstream>
#include <iterator>

#include "platform/host/host_system.h"

namespace tolvessa::host {

Text HostModuleTable::DecodeAnsi(std::string_view ansi) {
    return host::DecodeAnsi(ansi);
}

bool RecordedModuleTable::TakeSnapshot(const SnapshotVisitor& visit) {
    std::ifstream in(file_, std::ios::binary);
    if (!in)
        return false;
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
    if (in.bad())
        return false;
    visit(ModuleSnapshot(bytes, layout_));
    return true;
}

bool InMemoryModuleTable::TakeSnapshot(const SnapshotVisitor& visit) {
    visit(ModuleSnapshot(bytes_, layout_));
    return true;
}

}  // namespace tolvessa::host
