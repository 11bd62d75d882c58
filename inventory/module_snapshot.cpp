#include "inventory/module_snapshot.h"

#include <algorithm>

#include "inventory/pe_image.h"

namespace tolvessa {

std::uint32_t ModuleSnapshot::ClaimedCount() const {
    return bytes_.size() < 4 ? 0 : Read32(bytes_, 0);
}

std::size_t ModuleSnapshot::Count() const {
    const ModuleTableFormat format = FormatOf(layout_);
    if (bytes_.size() < format.headerSize)
        return 0;
    const std::size_t present = (bytes_.size() - format.headerSize) / format.entrySize;
    return std::min<std::size_t>(ClaimedCount(), present);
}

ModuleEntry ModuleSnapshot::Entry(std::size_t i) const {
    const ModuleTableFormat format = FormatOf(layout_);
    ModuleEntry entry;
    entry.addressDigits = static_cast<int>(format.addressBytes * 2);
    if (i >= Count())
        return entry;
    const auto record = bytes_.subspan(format.headerSize + i * format.entrySize, format.entrySize);
    entry.imageBase = format.addressBytes == 8 ? Read64(record, format.imageBaseOffset)
                                               : Read32(record, format.imageBaseOffset);
    entry.imageSize = Read32(record, format.imageSizeOffset);
    entry.loadOrderIndex = Read16(record, format.loadOrderOffset);
    const auto path = record.subspan(format.pathOffset, ModuleEntry::kPathBytes);
    const auto end = std::find(path.begin(), path.end(), std::uint8_t{0});
    entry.fullPathName.assign(path.begin(), end);
    return entry;
}

std::vector<std::uint8_t> EncodeModuleSnapshot(const std::vector<ModuleEntry>& entries,
                                               ModuleTableLayout layout) {
    const ModuleTableFormat format = FormatOf(layout);
    std::vector<std::uint8_t> bytes(format.headerSize + entries.size() * format.entrySize);
    Write32(bytes, 0, static_cast<std::uint32_t>(entries.size()));
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const std::size_t at = format.headerSize + i * format.entrySize;
        const ModuleEntry& entry = entries[i];
        if (format.addressBytes == 8)
            Write64(bytes, at + format.imageBaseOffset, entry.imageBase);
        else
            Write32(bytes, at + format.imageBaseOffset,
                    static_cast<std::uint32_t>(entry.imageBase));
        Write32(bytes, at + format.imageSizeOffset, entry.imageSize);
        Write16(bytes, at + format.loadOrderOffset, entry.loadOrderIndex);
        const std::size_t n = std::min(entry.fullPathName.size(), ModuleEntry::kPathBytes);
        std::copy_n(entry.fullPathName.begin(), n,
                    bytes.begin() + static_cast<std::ptrdiff_t>(at + format.pathOffset));
    }
    return bytes;
}

}  // namespace tolvessa
