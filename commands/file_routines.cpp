#include "commands/file_routines.h"

#include <string>

#include "tolvessa_product.h"

namespace tolvessa {

namespace {

constexpr std::uint32_t kErrorBadNetPath = 53;

// The bits SetFileAttributesW takes: read-only, hidden, system, archive, normal, temporary,
// offline, not content indexed. The others (directory, reparse point, compressed...) describe
// the file and cannot be set, so they are left out when the old word is put back.
constexpr std::uint32_t kSettableAttributes =
    0x1 | 0x2 | 0x4 | 0x20 | 0x80 | 0x100 | 0x1000 | 0x2000;

bool IsUnreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

}  // namespace

Text FileNamePart(const Text& path) {
    const std::size_t last = path.find_last_of(u"\\:");
    return last == Text::npos ? path : path.substr(last + 1);
}

Text FolderPart(const Text& path) {
    const std::size_t last = path.find_last_of(u"\\:");
    return last == Text::npos ? Text() : path.substr(0, last + 1);
}

Text AliasSystemFolder(const Text& path, const SystemFolderAlias& folders) {
    TextView system = folders.systemFolder;
    while (!system.empty() && system.back() == u'\\')
        system.remove_suffix(1);
    if (system.empty() || folders.alias.empty() || path.size() < system.size())
        return path;
    if (!SameFileName(TextView(path).substr(0, system.size()), system))
        return path;
    // "C:\Windows\system32x" is another folder.
    if (path.size() > system.size() && path[system.size()] != u'\\')
        return path;
    Text alias = folders.alias;
    while (!alias.empty() && alias.back() == u'\\')
        alias.pop_back();
    return alias + path.substr(system.size());
}

Text WithTrailingBackslash(const Text& folder) {
    return !folder.empty() && folder.back() == u'\\' ? folder : folder + u"\\";
}

Text PercentEncode(TextView text) {
    static constexpr char16_t kDigits[] = u"0123456789ABCDEF";
    Text out;
    for (const char c : TextToUtf8(text)) {
        const auto byte = static_cast<unsigned char>(c);
        if (IsUnreserved(byte)) {
            out += static_cast<char16_t>(byte);
        } else {
            out += u'%';
            out += kDigits[byte >> 4];
            out += kDigits[byte & 0xF];
        }
    }
    return out;
}

Text WebSearchAddress(TextView text) {
    return TOLVESSA_U(TOLVESSA_SEARCH_BASE) u"/search?q=" + PercentEncode(text);
}

bool FolderExistsOnDisk(FileAttributeApi& attributes, FileOperationApi& files, const Text& path) {
    using Api = FileAttributeApi;
    const Api::Attributes read = attributes.ReadAttributes(path);
    if (read.value == Api::kInvalidAttributes) {
        switch (read.lastError) {
            case Api::kErrorFileNotFound:
            case Api::kErrorPathNotFound:
            case kErrorBadNetPath:
            case Api::kErrorInvalidName:
                return false;
            default:
                // Something is there that cannot be looked at (access denied, in use).
                return true;
        }
    }
    const bool directory = (read.value & Api::kDirectory) != 0;
    if ((read.value & Api::kReparsePoint) == 0)
        return directory;
    // A link or junction: it counts only when its target can be reached.
    return files.OpenWithBackupSemantics(path) && directory;
}

bool ForceDeleteFile(FileAttributeApi& attributes, FileOperationApi& files, const Text& path) {
    const std::uint32_t before = attributes.ReadAttributes(path).value;
    files.SetAttributes(path, 0);
    if (files.RemoveFile(path))
        return true;
    // The file stays: give it back the attributes it had, rather than leave it stripped of its
    // read-only, hidden or system mark.
    if (before != FileAttributeApi::kInvalidAttributes)
        files.SetAttributes(path, before & kSettableAttributes);
    return false;
}

bool MarkFileForDeletion(FileOperationApi& files, const Text& path) {
    return files.MarkForDeletionAtReboot(path);
}

}  // namespace tolvessa
