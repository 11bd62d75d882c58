// The report file calls on a POSIX file system.
#pragma once

#include "platform/host/host_paths.h"
#include "report/report_file.h"

namespace tolvessa::host {

// Creates report files under the host names of Windows-style paths (a relative name stays
// relative to the current directory). An exclusive flock held for as long as the file is open
// stands in for opening without sharing: a file another descriptor holds locked is refused and
// left as it is. The active code page is UTF-8.
class PosixReportFile : public ReportFileApi {
  public:
    explicit PosixReportFile(const HostPaths& paths) : paths_(paths) {}

    std::unique_ptr<ReportFile> CreateAlways(const Text& fileName) override;
    std::unique_ptr<ReportFile> CreateWriteOnly(const Text& fileName) override;
    std::optional<std::string> ToAnsi(TextView text) override;
    bool AnsiIsUtf8() override { return true; }

  private:
    const HostPaths& paths_;
};

}  // namespace tolvessa::host
