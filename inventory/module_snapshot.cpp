#include "inventory/module_snapshot.h"

#include <algorithm>

namespace tolvessa {

namespace {

std::uint32_t LoadLe32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint16_t LoadLe16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

}  // namespace

std::uint32_t ModuleSnapshot::ClaimedCount() const {
    return bytes_.size() < kHeaderSize ? 0 : LoadLe32(bytes_.data());
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
    const std::uint8_t* p = bytes_.data() + kHeaderSize + i * ModuleEntry::kSize;
    entry.imageBase = LoadLe32(p + 8);
    entry.imageSize = LoadLe32(p + 12);
    entry.loadOrderIndex = LoadLe16(p + 20);
    const std::uint8_t* path = p + 28;
    const std::uint8_t* end = std::find(path, path + ModuleEntry::kPathBytes, std::uint8_t{0});
    entry.fullPathName.assign(reinterpret_cast<const char*>(path), end - path);
    return entry;
}

std::vector<std::uint8_t> EncodeModuleSnapshot(const std::vector<ModuleEntry>& entries) {
    std::vector<std::uint8_t> bytes(ModuleSnapshot::kHeaderSize +
                                    entries.size() * ModuleEntry::kSize);
    auto store = [&bytes](std::size_t at, std::uint32_t value, int width) {
        for (int k = 0; k < width; ++k)
            bytes[at + k] = static_cast<std::uint8_t>(value >> (8 * k));
    };
    store(0, static_cast<std::uint32_t>(entries.size()), 4);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const std::size_t at = ModuleSnapshot::kHeaderSize + i * ModuleEntry::kSize;
        store(at + 8, entries[i].imageBase, 4);
        store(at + 12, entries[i].imageSize, 4);
        store(at + 20, entries[i].loadOrderIndex, 2);
        const std::string& path = entries[i].fullPathName;
        const std::size_t n = std::min(path.size(), ModuleEntry::kPathBytes);
        std::copy_n(path.begin(), n, bytes.begin() + static_cast<std::ptrdiff_t>(at + 28));
    }
    return bytes;
}

}  // namespace tolvessa
