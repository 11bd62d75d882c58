#include "inventory/file_bytes.h"

#include <new>

namespace tolvessa {

std::optional<FileBytes> FileBytes::Load(FileContentApi& content, const Text& path) {
    bool tooLarge = false;
    return LoadUpTo(content, path, std::nullopt, tooLarge);
}

FileBytes::Limited FileBytes::LoadAtMost(FileContentApi& content, const Text& path,
                                         std::uint64_t limit) {
    Limited limited;
    limited.bytes = LoadUpTo(content, path, limit, limited.tooLarge);
    return limited;
}

std::optional<FileBytes> FileBytes::LoadUpTo(FileContentApi& content, const Text& path,
                                             std::optional<std::uint64_t> limit, bool& tooLarge) {
    constexpr std::size_t kReadChunk = 1 << 16;
    const auto over = [&limit](std::uint64_t size) { return limit && size > *limit; };
    FileBytes loaded;
    loaded.file_ = content.OpenForRead(path);
    if (!loaded.file_)
        return std::nullopt;
    if (const std::optional<std::uint64_t> size = loaded.file_->Size(); size && over(*size)) {
        tooLarge = true;
        return std::nullopt;
    }
    loaded.view_ = loaded.file_->MapWhole();
    if (loaded.view_) {
        if (over(loaded.view_->Bytes().size())) {
            tooLarge = true;
            return std::nullopt;
        }
        return loaded;
    }
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
            if (over(loaded.read_.size())) {
                tooLarge = true;
                return std::nullopt;
            }
        }
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
    return loaded;
}

}  // namespace tolvessa
