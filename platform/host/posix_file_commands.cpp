#include "platform/host/posix_file_commands.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <utility>

namespace tolvessa::host {

namespace {

constexpr std::uint32_t kReadOnly = 0x1;
constexpr std::uint32_t kHidden = 0x2;
constexpr std::uint32_t kSystem = 0x4;
constexpr const char* kDosAttribute = "user.DOSATTRIB";

class ScopedFd {
  public:
    explicit ScopedFd(int fd) : fd_(fd) {}
    ~ScopedFd() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    ScopedFd(const ScopedFd&) = delete;
    ScopedFd& operator=(const ScopedFd&) = delete;

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    // Closes now, so that a failed close counts.
    bool Close() {
        const int fd = std::exchange(fd_, -1);
        return ::close(fd) == 0;
    }

  private:
    int fd_;
};

bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool CopyContent(int from, int to) {
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t n = ::read(from, buffer, sizeof buffer);
        if (n == 0)
            return true;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (!WriteAll(to, buffer, static_cast<std::size_t>(n)))
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
    ScopedFd fd(::open(hostPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    return static_cast<bool>(fd);
}

bool PosixFileOperations::CopyNoOverwrite(const Text& source, const Text& destination) {
    const std::string from = paths_.ToHost(source);
    const std::string to = paths_.ToHost(destination);
    if (from.empty() || to.empty())
        return false;
    ScopedFd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    struct stat st;
    if (!in || ::fstat(in.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    // O_EXCL: an existing destination, a link among them, is never written through.
    ScopedFd out(::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!out)
        return false;
    bool copied = CopyContent(in.get(), out.get());
    if (copied) {
        const struct timespec times[2] = {st.st_atim, st.st_mtim};
        ::futimens(out.get(), times);
        char dos[64];
        const ssize_t n = ::fgetxattr(in.get(), kDosAttribute, dos, sizeof dos);
        if (n > 0)
            ::fsetxattr(out.get(), kDosAttribute, dos, static_cast<std::size_t>(n), 0);
        copied = ::fchmod(out.get(), st.st_mode & 07777) == 0;
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
    ScopedFd record(::open(pendingDeletions_.c_str(),
                           O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0644));
    if (!record)
        return false;
    // The whole entry in one append, so two requests never interleave.
    const std::string entry = "\\??\\" + TextToUtf8(path) + "\n\n";
    const bool written = WriteAll(record.get(), entry.data(), entry.size());
    return record.Close() && written;
}

}  // namespace tolvessa::host
