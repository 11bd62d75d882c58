#include "platform/host/posix_report_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <utility>

namespace tolvessa::host {

namespace {

// A file descriptor, closed with the object; closing also drops its flock.
class UniqueFd {
  public:
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    UniqueFd& operator=(UniqueFd&&) = delete;

    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }

  private:
    int fd_;
};

class PosixFile : public ReportFile {
  public:
    explicit PosixFile(UniqueFd fd) : fd_(std::move(fd)) {}

    bool Write(std::string_view bytes) override {
        while (!bytes.empty()) {
            const ssize_t n = ::write(fd_.Get(), bytes.data(), bytes.size());
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                return false;
            }
            if (n == 0)
                return false;
            bytes.remove_prefix(static_cast<std::size_t>(n));
        }
        return true;
    }

  private:
    UniqueFd fd_;
};

}  // namespace

std::unique_ptr<ReportFile> PosixReportFile::CreateAlways(const Text& fileName) {
    const std::string hostName = paths_.ToHost(fileName);
    if (hostName.empty())
        return nullptr;
    // Opened without O_TRUNC and emptied only once the lock is held, so a file that someone
    // else holds keeps its content, as a sharing violation would leave it on Windows.
    UniqueFd fd(::open(hostName.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666));
    if (!fd.Valid())
        return nullptr;
    struct stat st;
    if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode))
        return nullptr;
    if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0)
        return nullptr;
    if (::ftruncate(fd.Get(), 0) != 0)
        return nullptr;
    return std::make_unique<PosixFile>(std::move(fd));
}

std::optional<std::string> PosixReportFile::ToAnsi(TextView text) {
    return TextToUtf8(text);
}

}  // namespace tolvessa::host
