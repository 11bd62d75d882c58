// The one owner of a POSIX file descriptor for the host stand-ins: opening (always close-on-exec),
// the file's status, and whole reads and writes that retry interrupted and short transfers.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tolvessa::host {

class PosixFile {
  public:
    PosixFile() = default;
    // Takes ownership of `fd` (-1 for none).
    explicit PosixFile(int fd) : fd_(fd) {}
    PosixFile(PosixFile&& other) noexcept;
    PosixFile& operator=(PosixFile&& other) noexcept;
    PosixFile(const PosixFile&) = delete;
    PosixFile& operator=(const PosixFile&) = delete;
    ~PosixFile();

    // open(2) with O_CLOEXEC added to `flags`; an empty object when it fails, with errno as
    // open left it.
    static PosixFile Open(const std::string& path, int flags, mode_t mode = 0);

    // An existing regular file opened for reading; nothing for a FIFO, a device, a folder or a
    // file that cannot be opened. O_NONBLOCK keeps a FIFO with no writer from blocking the open
    // (it changes nothing for regular files) and O_NOCTTY keeps a terminal from becoming ours.
    // On failure errno says why: as open left it, ENOENT for an empty path, EINVAL for
    // something that is not a regular file.
    static PosixFile OpenRegularForRead(const std::string& path);

    explicit operator bool() const { return fd_ >= 0; }
    int Get() const { return fd_; }

    // Closes now, so that a failed close can count; false also when nothing was open.
    bool Close();

    std::optional<struct stat> Status() const;
    bool IsRegularFile() const;
    // The current size; nothing when it cannot be had.
    std::optional<std::uint64_t> Size() const;

    // Exactly buffer.size() bytes at `offset` (pread, retried after interruptions and short
    // reads); false on an error or when the file ends first.
    bool ReadAt(std::uint64_t offset, std::span<std::uint8_t> buffer) const;
    // One read(2) at the file position, retried after an interruption: the count read (0 at the
    // end of the file), or nothing on an error.
    std::optional<std::size_t> ReadSome(std::span<std::uint8_t> buffer) const;
    // Writes all of `bytes` at the file position; false on an error or when nothing more can be
    // written.
    bool WriteAll(std::string_view bytes) const;

  private:
    int fd_ = -1;
};

}  // namespace tolvessa::host
