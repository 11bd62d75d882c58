// Whether a path names an existing file, and whether that file is hidden.
#pragma once

#include <cstdint>
#include <optional>

#include "inventory/text.h"

namespace tolvessa {

// The attribute calls behind the two file queries (GetFileAttributesW, FindFirstFileW with
// FindClose, CreateFileW with CloseHandle on Windows).
class FileAttributeApi {
  public:
    static constexpr std::uint32_t kInvalidAttributes = 0xFFFFFFFFu;
    static constexpr std::uint32_t kHidden = 0x2;
    static constexpr std::uint32_t kDirectory = 0x10;
    static constexpr std::uint32_t kReparsePoint = 0x400;

    static constexpr std::uint32_t kErrorFileNotFound = 2;
    static constexpr std::uint32_t kErrorPathNotFound = 3;
    static constexpr std::uint32_t kErrorInvalidName = 123;
    static constexpr std::uint32_t kErrorSharingViolation = 32;

    struct Attributes {
        std::uint32_t value = kInvalidAttributes;
        std::uint32_t lastError = 0;  // meaningful when value is kInvalidAttributes
    };

    virtual ~FileAttributeApi() = default;
    virtual Attributes ReadAttributes(const Text& path) = 0;
    // The attribute word of the directory entry that matches the path, or nothing.
    virtual std::optional<std::uint32_t> FindAttributes(const Text& path) = 0;
    // Opens the path for reading (shared for reading) and closes it again: 0 on success, else
    // the last error.
    virtual std::uint32_t TryOpenForRead(const Text& path) = 0;
};

bool FileExistsOnDisk(FileAttributeApi& api, const Text& path);

// False when the file does not exist; otherwise whether the hidden attribute is set. A file
// found only by the directory search, whose attributes cannot be read, does not count as hidden.
bool IsFileHidden(FileAttributeApi& api, const Text& path);

}  // namespace tolvessa
