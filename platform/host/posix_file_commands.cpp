#include "platform/host/posix_file_commands.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <optional>
#include <string_view>

#include "platform/host/posix_file.h"

namespace tolvessa::host {

namespace {

constexpr std::uint32_t kReadOnly = 0x1;
constexpr std::uint32_t kHidden = 0x2;
constexpr std::uint32_t kSystem = 0x4;
constexpr const char* kDosAttribute = "user.DOSATTRIB";

bool CopyContent(const PosixFile& from, const PosixFile& to) {
    std::array<std::uint8_t, 64 * 1024> buffer;
    for (;;) {
        const std::optional<std::size_t> n = from.ReadSome(buffer);
        if (!n)
            return false;
        if (*n == 0)
            return true;
        if (!to.WriteAll(std::string_view(reinterpret_cast<const char*>(buffer.data()), *n)))
            return false;
    }
}

bool DottedName(const std::string& hostPath) {
    const auto slash = hostPath.find_last_of('/');
    const std::string name = slash == std::string::npos ? hostPath : hostPath.substr(slash + 1);
    return name.size() > 1 && name[0] == '.' && name != "..";
}

// The hidden and system bits as Wine stores them: "0x" and hexadecimal digits.
bool StoreDosAttribute(const std::string& hostPath, std::uint32_t attributes) {
    const std::uint32_t bits = attributes & (kHidden | kSystem);
    if (bits == 0 && !DottedName(hostPath)) {
        return ::removexattr(hostPath.c_str(), kDosAttribute) == 0 || errno == ENODATA ||
               errno == ENOTSUP;
    }
    char value[16];
    const int length = std::snprintf(value, sizeof value, "0x%x", static_cast<unsigned>(bits));
    if (::setxattr(hostPath.c_str(), kDosAttribute, value, static_cast<std::size_t>(length), 0) ==
        0)
        return true;
    // Nowhere to keep the mark: only a wish for hidden or system goes unfulfilled.
    return bits == 0;
}

}  // namespace

bool PosixFileOperations::OpenWithBackupSemantics(const Text& path) {
    const std::string hostPath = paths_.ToHost(path);
    if (hostPath.empty())
        return false;
    return static_cast<bool>(PosixFile::Open(hostPath, O_RDONLY | O_NONBLOCK | O_NOCTTY));
}

bool PosixFileOperations::CopyNoOverwrite(const Text& source, const Text& destination) {
    const std::string from = paths_.ToHost(source);
    const std::string to = paths_.ToHost(destination);
    if (from.empty() || to.empty())
        return false;
    const PosixFile in = PosixFile::OpenRegularForRead(from);
    const auto status = in.Status();
    if (!in || !status)
        return false;
    const struct stat& st = *status;
    // O_EXCL: an existing destination, a link among them, is never written through.
    PosixFile out = PosixFile::Open(to, O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (!out)
        return false;
    bool copied = CopyContent(in, out);
    if (copied) {
        const struct timespec times[2] = {st.st_atim, st.st_mtim};
        ::futimens(out.Get(), times);
        char dos[64];
        const ssize_t n = ::fgetxattr(in.Get(), kDosAttribute, dos, sizeof dos);
        if (n > 0)
            ::fsetxattr(out.Get(), kDosAttribute, dos, static_cast<std::size_t>(n), 0);
        copied = ::fchmod(out.Get(), st.st_mode & 07777) == 0;
    }
    copied = out.Close() && copied;
    if (!copied)
        ::unlink(to.c_str());
    return copied;
}

bool PosixFileOperations::SetAttributes(const Text& path, std::uint32_t attributes) {
    const std::string hostPath = paths_.ToHost(path);
    struct stat st;
    if (hostPath.empty() || ::stat(hostPath.c_str(), &st) != 0)
        return false;
    mode_t mode = st.st_mode & 07777;
    if ((attributes & kReadOnly) != 0)
        mode &= static_cast<mode_t>(~0222);
    else
        mode |= S_IWUSR;
    if (mode != (st.st_mode & 07777) && ::chmod(hostPath.c_str(), mode) != 0)
        return false;
    return StoreDosAttribute(hostPath, attributes);
}

bool PosixFileOperations::RemoveFile(const Text& path) {
    const std::string hostPath = paths_.ToHost(path);
    struct stat st;
    if (hostPath.empty() || ::lstat(hostPath.c_str(), &st) != 0)
        return false;
    if (S_ISDIR(st.st_mode))
        return false;
    if (!S_ISLNK(st.st_mode) && (st.st_mode & S_IWUSR) == 0)
        return false;
    return ::unlink(hostPath.c_str()) == 0;
}

bool PosixFileOperations::MarkForDeletionAtReboot(const Text& path) {
    const std::string hostPath = paths_.ToHost(path);
    struct stat st;
    if (hostPath.empty() || ::lstat(hostPath.c_str(), &st) != 0)
        return false;
    PosixFile record =
        PosixFile::Open(pendingDeletions_, O_WRONLY | O_APPEND | O_CREAT | O_NOCTTY, 0644);
    if (!record)
        return false;
    // The whole entry in one append, so two requests never interleave.
    const std::string entry = "\\??\\" + TextToUtf8(path) + "\n\n";
    const bool written = record.WriteAll(entry);
    return record.Close() && written;
}

}  // namespace tolvessa::host
