#include "inventory/module_snapshot.h"

#include <algorithm>

#include "inventory/pe_image.h"

namespace tolvessa {

std::uint32_t ModuleSnapshot::ClaimedCount() const {
    return bytes_.size() < kHeaderSize ? 0 : Read32(bytes_, 0);
}

std::size_t ModuleSnapshot::Count() const {
    if (bytes_.size() < kHeaderSize)
        return 0;
    const std::size_t present = (bytes_.size() - kHeaderSize) / ModuleEntry::kSize;
    return std::min<std::size_t>(ClaimedCount(), present);
}

ModuleEntry ModuleSnapshot::Entry(std::size_t i) const {
    ModuleEntry entry;
    if (i >= Count())
        return entry;
    const auto record = bytes_.subspan(kHeaderSize + i * ModuleEntry::kSize, ModuleEntry::kSize);
    entry.imageBase = Read32(record, 8);
    entry.imageSize = Read32(record, 12);
    entry.loadOrderIndex = Read16(record, 20);
    const auto path = record.subspan(28, ModuleEntry::kPathBytes);
    const auto end = std::find(path.begin(), path.end(), std::uint8_t{0});
    entry.fullPathName.assign(path.begin(), end);
    return entry;
}

std::vector<std::uint8_t> EncodeModuleSnapshot(const std::vector<ModuleEntry>& entries) {
    std::vector<std::uint8_t> bytes(ModuleSnapshot::kHeaderSize +
                                    entries.size() * ModuleEntry::kSize);
    Write32(bytes, 0, static_cast<std::uint32_t>(entries.size()));
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const std::size_t at = ModuleSnapshot::kHeaderSize + i * ModuleEntry::kSize;
        Write32(bytes, at + 8, entries[i].imageBase);
        Write32(bytes, at + 12, entries[i].imageSize);
        Write16(bytes, at + 20, entries[i].loadOrderIndex);
        const std::string& path = entries[i].fullPathName;
        const std::size_t n = std::min(path.size(), ModuleEntry::kPathBytes);
        std::copy_n(path.begin(), n, bytes.begin() + static_cast<std::ptrdiff_t>(at + 28));
    }
    return bytes;
}

}  // namespace tolvessa
