// A whole file's bytes through the platform's file reader: a mapping of the whole file, or
// (where it cannot be mapped) the file read into memory in chunks.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "inventory/file_content.h"

namespace tolvessa {

class FileBytes {
  public:
    // Nothing when the file cannot be opened, a read fails part-way or claims more bytes than
    // were asked for, or memory runs out.
    static std::optional<FileBytes> Load(FileContentApi& content, const Text& path);
    // The same for a file already open, with its view when it has one; else it is read, `size`
    // bytes where its length was told (bytes appended since are left out, and a file that
    // turns out shorter gives nothing), to its end where not.
    static std::optional<FileBytes> Load(std::unique_ptr<FileContentApi::File> file,
                                         std::unique_ptr<FileContentApi::View> view,
                                         std::optional<std::uint64_t> size);

    // As Load, for a file of at most `limit` bytes: a larger one is refused (`tooLarge`) from
    // the open file's size before a byte of it is mapped or read; where the platform cannot
    // tell the size, from the mapping's, or as soon as more than `limit` bytes were read.
    struct Limited;
    static Limited LoadAtMost(FileContentApi& content, const Text& path, std::uint64_t limit);

    std::span<const std::uint8_t> Bytes() const {
        return view_ ? view_->Bytes() : std::span<const std::uint8_t>(read_);
    }

  private:
    static std::optional<FileBytes> LoadUpTo(FileContentApi& content, const Text& path,
                                             std::optional<std::uint64_t> limit, bool& tooLarge);
    // Load of an open file that stops reading once more than `limit` bytes are in.
    static std::optional<FileBytes> Load(std::unique_ptr<FileContentApi::File> file,
                                         std::unique_ptr<FileContentApi::View> view,
                                         std::optional<std::uint64_t> size,
                                         std::optional<std::uint64_t> limit);

    std::unique_ptr<FileContentApi::File> file_;
    std::unique_ptr<FileContentApi::View> view_;
    std::vector<std::uint8_t> read_;
};

struct FileBytes::Limited {
    std::optional<FileBytes> bytes;  // nothing when unreadable or too large
    bool tooLarge = false;
};

}  // namespace tolvessa
