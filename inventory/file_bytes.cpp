#include "inventory/file_bytes.h"

#include <algorithm>
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
    const auto over = [&limit](std::uint64_t size) { return limit && size > *limit; };
    std::unique_ptr<FileContentApi::File> file = content.OpenForRead(path);
    if (!file)
        return std::nullopt;
    const std::optional<std::uint64_t> size = file->Size();
    if (size && over(*size)) {
        tooLarge = true;
        return std::nullopt;
    }
    std::unique_ptr<FileContentApi::View> view = file->MapWhole();
    if (view && over(view->Bytes().size())) {
        tooLarge = true;
        return std::nullopt;
    }
    const std::optional<std::uint64_t> toRead = view ? std::nullopt : size;
    std::optional<FileBytes> loaded = Load(std::move(file), std::move(view), toRead, limit);
    if (loaded && over(loaded->Bytes().size())) {
        tooLarge = true;
        return std::nullopt;
    }
    return loaded;
}

std::optional<FileBytes> FileBytes::Load(std::unique_ptr<FileContentApi::File> file,
                                         std::unique_ptr<FileContentApi::View> view,
                                         std::optional<std::uint64_t> size) {
    return Load(std::move(file), std::move(view), size, std::nullopt);
}

std::optional<FileBytes> FileBytes::Load(std::unique_ptr<FileContentApi::File> file,
                                         std::unique_ptr<FileContentApi::View> view,
                                         std::optional<std::uint64_t> size,
                                         std::optional<std::uint64_t> limit) {
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
            // A file whose length could not be told stops being read once it is past the
            // limit; the caller refuses it.
            if (limit && loaded.read_.size() > *limit)
                break;
        }
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
    return loaded;
}

}  // namespace tolvessa
