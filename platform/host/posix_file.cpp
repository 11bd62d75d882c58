#include "platform/host/posix_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <limits>
#include <utility>

namespace tolvessa::host {

PosixFile::PosixFile(PosixFile&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

PosixFile& PosixFile::operator=(PosixFile&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

PosixFile::~PosixFile() {
    Close();
}

PosixFile PosixFile::Open(const std::string& path, int flags, mode_t mode) {
    return PosixFile(::open(path.c_str(), flags | O_CLOEXEC, mode));
}

PosixFile PosixFile::OpenRegularForRead(const std::string& path) {
    if (path.empty()) {
        errno = ENOENT;
        return {};
    }
    PosixFile file = Open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY);
    if (!file)
        return {};
    if (!file.IsRegularFile()) {
        errno = EINVAL;
        return {};
    }
    return file;
}

bool PosixFile::Close() {
    if (fd_ < 0)
        return false;
    return ::close(std::exchange(fd_, -1)) == 0;
}

std::optional<struct stat> PosixFile::Status() const {
    struct stat st;
    if (fd_ < 0 || ::fstat(fd_, &st) != 0)
        return std::nullopt;
    return st;
}

bool PosixFile::IsRegularFile() const {
    const auto st = Status();
    return st && S_ISREG(st->st_mode);
}

std::optional<std::uint64_t> PosixFile::Size() const {
    const auto st = Status();
    if (!st || st->st_size < 0)
        return std::nullopt;
    return static_cast<std::uint64_t>(st->st_size);
}

bool PosixFile::ReadAt(std::uint64_t offset, std::span<std::uint8_t> buffer) const {
    std::size_t done = 0;
    while (done < buffer.size()) {
        const std::uint64_t at = offset + done;
        if (at < offset || at > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max()))
            return false;
        const ssize_t got =
            ::pread(fd_, buffer.data() + done, buffer.size() - done, static_cast<off_t>(at));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;  // an error, or the file shrank under us
        done += static_cast<std::size_t>(got);
    }
    return true;
}

std::optional<std::size_t> PosixFile::ReadSome(std::span<std::uint8_t> buffer) const {
    for (;;) {
        const ssize_t got = ::read(fd_, buffer.data(), buffer.size());
        if (got >= 0)
            return static_cast<std::size_t>(got);
        if (errno != EINTR)
            return std::nullopt;
    }
}

bool PosixFile::WriteAll(std::string_view bytes) const {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

}  // namespace tolvessa::host
