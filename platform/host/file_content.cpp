#include "platform/host/file_content.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <limits>
#include <utility>

namespace tolvessa::host {

namespace {

// Owns a file descriptor; closes it when destroyed.
class UniqueFd {
  public:
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    UniqueFd& operator=(UniqueFd&&) = delete;
    ~UniqueFd() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }

  private:
    int fd_;
};

// A read-only private mapping of the first `size` bytes of a file; unmapped when destroyed.
class MappedView : public FileContentApi::View {
  public:
    MappedView(int fd, std::size_t size)
        : address_(::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0)), size_(size) {
        // The digest reads the view once from start to end: ask for aggressive read-ahead.
        if (mapped())
            ::madvise(address_, size_, MADV_SEQUENTIAL);
    }
    MappedView(const MappedView&) = delete;
    MappedView& operator=(const MappedView&) = delete;
    ~MappedView() override {
        if (mapped())
            ::munmap(address_, size_);
    }

    bool mapped() const { return address_ != MAP_FAILED; }

    std::span<const std::uint8_t> Bytes() const override {
        return {static_cast<const std::uint8_t*>(address_), size_};
    }

  private:
    void* address_;
    std::size_t size_;
};

class PosixFile : public FileContentApi::File {
  public:
    PosixFile(UniqueFd fd, off_t size, PosixFileContent::Mapping mapping)
        : fd_(std::move(fd)), size_(size), mapping_(mapping) {}

    std::unique_ptr<FileContentApi::View> MapWhole() override {
        if (mapping_ == PosixFileContent::Mapping::kRefused)
            return nullptr;
        if (size_ <= 0)
            return nullptr;  // mmap refuses a length of 0
        if (static_cast<std::uintmax_t>(size_) > std::numeric_limits<std::size_t>::max()) {
            return nullptr;
        }
        auto view = std::make_unique<MappedView>(fd_.get(), static_cast<std::size_t>(size_));
        if (!view->mapped())
            return nullptr;
        return view;
    }

    std::optional<std::size_t> Read(std::span<std::uint8_t> buffer) override {
        for (;;) {
            const ssize_t got = ::read(fd_.get(), buffer.data(), buffer.size());
            if (got >= 0)
                return static_cast<std::size_t>(got);
            if (errno != EINTR)
                return std::nullopt;
        }
    }

  private:
    UniqueFd fd_;
    off_t size_;
    PosixFileContent::Mapping mapping_;
};

}  // namespace

PosixFileContent::PosixFileContent(const HostPaths& paths, Mapping mapping)
    : paths_(paths), mapping_(mapping) {}

std::unique_ptr<FileContentApi::File> PosixFileContent::OpenForRead(const Text& path) {
    const std::string hostPath = paths_.ToHost(path);
    if (hostPath.empty())
        return nullptr;
    // O_NONBLOCK: opening a FIFO with no writer must not wait; it is refused just below.
    UniqueFd fd(::open(hostPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd)
        return nullptr;
    struct stat st;
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return nullptr;
    return std::make_unique<PosixFile>(std::move(fd), st.st_size, mapping_);
}

}  // namespace tolvessa::host
