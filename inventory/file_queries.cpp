#include "inventory/file_queries.h"

namespace tolvessa {

bool FileExistsOnDisk(FileAttributeApi& api, const Text& path) {
    using Api = FileAttributeApi;
    const Api::Attributes attributes = api.ReadAttributes(path);
    if (attributes.value == Api::kInvalidAttributes) {
        switch (attributes.lastError) {
            case Api::kErrorFileNotFound:
            case Api::kErrorPathNotFound:
            case Api::kErrorInvalidName:
                return false;
            default: {
                const std::optional<std::uint32_t> found = api.FindAttributes(path);
                return found && (*found & Api::kDirectory) == 0;
            }
        }
    }
    if ((attributes.value & Api::kReparsePoint) == 0) {
        return (attributes.value & Api::kDirectory) == 0;
    }
    if ((attributes.value & Api::kDirectory) != 0)
        return false;
    const std::uint32_t error = api.TryOpenForRead(path);
    return error == 0 || error == Api::kErrorSharingViolation;
}

bool IsFileHidden(FileAttributeApi& api, const Text& path) {
    if (!FileExistsOnDisk(api, path))
        return false;
    const std::uint32_t value = api.ReadAttributes(path).value;
    // An unreadable attribute word has every bit set, the hidden bit among them; it says
    // nothing about the file, so such a file is not called hidden.
    if (value == FileAttributeApi::kInvalidAttributes)
        return false;
    return (value & FileAttributeApi::kHidden) != 0;
}

}  // namespace tolvessa
