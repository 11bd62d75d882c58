#include "platform/host/posix_file_attributes.h"

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <string>

#include "platform/host/posix_file.h"

namespace tolvessa::host {

namespace {

constexpr std::uint32_t kReadOnly = 0x1;
constexpr std::uint32_t kSystem = 0x4;
constexpr std::uint32_t kArchive = 0x20;
constexpr std::uint32_t kErrorAccessDenied = 5;
constexpr std::uint32_t kErrorFilenameTooLong = 206;
constexpr std::uint32_t kErrorCantResolveFilename = 1921;

std::string BaseName(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The DOS attribute bits kept in user.DOSATTRIB ("0x22", possibly followed by Samba's binary
// record), or nothing when the file carries no such attribute.
std::optional<std::uint32_t> DosAttributes(const std::string& path, bool followLink) {
    char value[64] = {};
    const ssize_t n = followLink
                          ? ::getxattr(path.c_str(), "user.DOSATTRIB", value, sizeof value - 1)
                          : ::lgetxattr(path.c_str(), "user.DOSATTRIB", value, sizeof value - 1);
    if (n <= 2 || value[0] != '0' || (value[1] != 'x' && value[1] != 'X'))
        return std::nullopt;
    char* end = nullptr;
    const unsigned long bits = std::strtoul(value + 2, &end, 16);
    if (end == value + 2)
        return std::nullopt;
    return static_cast<std::uint32_t>(bits);
}

std::uint32_t AttributesOf(const std::string& hostPath, const struct stat& st, bool isLink,
                           const struct stat* target) {
    std::uint32_t value = 0;
    if (isLink) {
        value |= FileAttributeApi::kReparsePoint;
        if (target && S_ISDIR(target->st_mode))
            value |= FileAttributeApi::kDirectory;
    } else if (S_ISDIR(st.st_mode)) {
        value |= FileAttributeApi::kDirectory;
    } else {
        value |= kArchive;
    }
    if ((st.st_mode & S_IWUSR) == 0)
        value |= kReadOnly;
    // Hidden and system come from the DOS attributes where the file carries them; otherwise a
    // leading dot in the name makes a file hidden, as Wine shows it.
    const std::optional<std::uint32_t> dos = DosAttributes(hostPath, false);
    const std::string name = BaseName(hostPath);
    if (dos) {
        value |= *dos & (FileAttributeApi::kHidden | kSystem);
    } else if (name.size() > 1 && name[0] == '.' && name != "..") {
        value |= FileAttributeApi::kHidden;
    }
    return value;
}

bool IsSpecial(const struct stat& st) {
    return !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode);
}

}  // namespace

std::uint32_t WindowsErrorFromErrno(int error) {
    switch (error) {
        case ENOENT:
            return FileAttributeApi::kErrorFileNotFound;
        case ENOTDIR:
            return FileAttributeApi::kErrorPathNotFound;
        case EACCES:
        case EPERM:
            return kErrorAccessDenied;
        case ENAMETOOLONG:
            return kErrorFilenameTooLong;
        case ELOOP:
            return kErrorCantResolveFilename;
        case EINVAL:
            return FileAttributeApi::kErrorInvalidName;
        default:
            return 31;  // ERROR_GEN_FAILURE
    }
}

FileAttributeApi::Attributes PosixFileAttributes::ReadAttributes(const Text& path) {
    Attributes result;
    const std::string hostPath = paths_.ToHost(path);
    if (hostPath.empty()) {
        result.lastError = path.empty() ? kErrorPathNotFound : kErrorInvalidName;
        return result;
    }
    struct stat st;
    if (::lstat(hostPath.c_str(), &st) != 0) {
        result.lastError = WindowsErrorFromErrno(errno);
        return result;
    }
    if (S_ISLNK(st.st_mode)) {
        struct stat target;
        const bool resolved = ::stat(hostPath.c_str(), &target) == 0;
        if (resolved && IsSpecial(target)) {
            result.lastError = kErrorFileNotFound;
            return result;
        }
        result.value = AttributesOf(hostPath, st, true, resolved ? &target : nullptr);
        return result;
    }
    if (IsSpecial(st)) {
        result.lastError = kErrorFileNotFound;
        return result;
    }
    result.value = AttributesOf(hostPath, st, false, nullptr);
    return result;
}

std::optional<std::uint32_t> PosixFileAttributes::FindAttributes(const Text& path) {
    const std::string hostPath = paths_.ToHost(path);
    if (hostPath.empty())
        return std::nullopt;
    const auto slash = hostPath.find_last_of('/');
    const std::string folder =
        slash == std::string::npos ? "." : (slash == 0 ? "/" : hostPath.substr(0, slash));
    const std::string name = BaseName(hostPath);
    if (name.empty())
        return std::nullopt;

    struct DirCloser {
        void operator()(DIR* d) const { ::closedir(d); }
    };
    using DirPtr = std::unique_ptr<DIR, DirCloser>;
    DirPtr dir(::opendir(folder.c_str()));
    if (!dir)
        return std::nullopt;
    while (const dirent* entry = ::readdir(dir.get())) {
        if (::strcasecmp(entry->d_name, name.c_str()) != 0)
            continue;
        switch (entry->d_type) {
            case DT_DIR:
                return kDirectory;
            case DT_REG:
                return kArchive;
            case DT_LNK: {
                struct stat target;
                const std::string full = folder + "/" + entry->d_name;
                const bool toFolder = ::stat(full.c_str(), &target) == 0 && S_ISDIR(target.st_mode);
                return kReparsePoint | (toFolder ? kDirectory : 0u);
            }
            case DT_UNKNOWN: {
                struct stat st;
                const std::string full = folder + "/" + entry->d_name;
                if (::lstat(full.c_str(), &st) != 0)
                    return kArchive;
                if (S_ISDIR(st.st_mode))
                    return kDirectory;
                if (IsSpecial(st) && !S_ISLNK(st.st_mode))
                    return std::nullopt;
                return S_ISLNK(st.st_mode) ? kReparsePoint : kArchive;
            }
            default:
                return std::nullopt;  // FIFO, socket, device
        }
    }
    return std::nullopt;
}

std::uint32_t PosixFileAttributes::TryOpenForRead(const Text& path) {
    const std::string hostPath = paths_.ToHost(path);
    if (hostPath.empty())
        return kErrorInvalidName;
    const PosixFile file = PosixFile::Open(hostPath, O_RDONLY | O_NONBLOCK | O_NOCTTY);
    return file ? 0 : WindowsErrorFromErrno(errno);
}

}  // namespace tolvessa::host
