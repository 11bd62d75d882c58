#include "inventory/file_bytes.h"

#include <new>

namespace tolvessa {

std::optional<FileBytes> FileBytes::Load(FileContentApi& content, const Text& path) {
    constexpr std::size_t kReadChunk = 1 << 16;
    FileBytes loaded;
    loaded.file_ = content.OpenForRead(path);
    if (!loaded.file_)
        return std::nullopt;
    loaded.view_ = loaded.file_->MapWhole();
    if (loaded.view_)
        return loaded;
    try {
        std::vector<std::uint8_t> chunk(kReadChunk);
        for (;;) {
            const std::optional<std::size_t> got = loaded.file_->Read(chunk);
            if (!got || *got > chunk.size())
                return std::nullopt;
            if (*got == 0)
                break;
            loaded.read_.insert(loaded.read_.end(), chunk.begin(),
                                chunk.begin() + static_cast<std::ptrdiff_t>(*got));
        }
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
    return loaded;
}

}  // namespace tolvessa
