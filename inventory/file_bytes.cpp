#include "inventory/file_bytes.h"

#include <algorithm>
#include <new>

namespace tolvessa {

std::optional<FileBytes> FileBytes::Load(FileContentApi& content, const Text& path) {
    std::unique_ptr<FileContentApi::File> file = content.OpenForRead(path);
    if (!file)
        return std::nullopt;
    std::unique_ptr<FileContentApi::View> view = file->MapWhole();
    std::optional<std::uint64_t> size;
    if (!view)
        size = file->Size();
    return Load(std::move(file), std::move(view), size);
}

std::optional<FileBytes> FileBytes::Load(std::unique_ptr<FileContentApi::File> file,
                                         std::unique_ptr<FileContentApi::View> view,
                                         std::optional<std::uint64_t> size) {
    constexpr std::size_t kReadChunk = 1 << 16;
    if (!file)
        return std::nullopt;
    FileBytes loaded;
    loaded.file_ = std::move(file);
    loaded.view_ = std::move(view);
    if (loaded.view_)
        return loaded;
    try {
        std::vector<std::uint8_t> chunk(kReadChunk);
        for (;;) {
            const std::size_t want = size ? static_cast<std::size_t>(std::min<std::uint64_t>(
                                                chunk.size(), *size - loaded.read_.size()))
                                          : chunk.size();
            if (want == 0)
                break;
            const std::optional<std::size_t> got =
                loaded.file_->Read(std::span<std::uint8_t>(chunk.data(), want));
            if (!got || *got > want || (*got == 0 && size))
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
