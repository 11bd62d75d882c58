#include "platform/host/posix_report_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <string>
#include <utility>

#include "platform/host/posix_file.h"

namespace tolvessa::host {

namespace {

// Closing the file also drops its flock.
class LockedReportFile : public ReportFile {
  public:
    explicit LockedReportFile(PosixFile file) : file_(std::move(file)) {}

    bool Write(std::string_view bytes) override { return file_.WriteAll(bytes); }

  private:
    PosixFile file_;
};

// `access`: O_RDWR or O_WRONLY.
std::unique_ptr<ReportFile> CreateLocked(const HostPaths& paths, const Text& fileName, int access) {
    const std::string hostName = paths.ToHost(fileName);
    if (hostName.empty())
        return nullptr;
    // Opened without O_TRUNC and emptied only once the lock is held, so a file that someone
    // else holds keeps its content, as a sharing violation would leave it on Windows.
    PosixFile file = PosixFile::Open(hostName, access | O_CREAT, 0666);
    if (!file || !file.IsRegularFile())
        return nullptr;
    if (::flock(file.Get(), LOCK_EX | LOCK_NB) != 0)
        return nullptr;
    if (::ftruncate(file.Get(), 0) != 0)
        return nullptr;
    return std::make_unique<LockedReportFile>(std::move(file));
}

}  // namespace

std::unique_ptr<ReportFile> PosixReportFile::CreateAlways(const Text& fileName) {
    return CreateLocked(paths_, fileName, O_RDWR);
}

std::unique_ptr<ReportFile> PosixReportFile::CreateWriteOnly(const Text& fileName) {
    return CreateLocked(paths_, fileName, O_WRONLY);
}

std::optional<std::string> PosixReportFile::ToAnsi(TextView text) {
    return TextToUtf8(text);
}

}  // namespace tolvessa::host
