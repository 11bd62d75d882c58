#include "platform/host/recorded_snapshot.h"

#include <fstream>
#include <iterator>
#include <memory>

namespace tolvessa::host {

SnapshotSource RecordedSnapshotSource(std::string file) {
    return [file = std::move(file)](const SnapshotVisitor& visit) {
        std::ifstream in(file, std::ios::binary);
        if (!in)
            return false;
        std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                        std::istreambuf_iterator<char>());
        if (in.bad())
            return false;
        visit(ModuleSnapshot(bytes));
        return true;
    };
}

SnapshotSource InMemorySnapshotSource(std::vector<std::uint8_t> bytes) {
    auto shared = std::make_shared<const std::vector<std::uint8_t>>(std::move(bytes));
    return [shared](const SnapshotVisitor& visit) {
        visit(ModuleSnapshot(*shared));
        return true;
    };
}

}  // namespace tolvessa::host
