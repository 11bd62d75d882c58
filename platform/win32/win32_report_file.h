// The report file on Windows: CreateFileW shared with nobody, WriteFile, the ANSI code page.
#pragma once

#include "platform/win32/win32_handles.h"
#include "report/report_file.h"

namespace tolvessa::win32 {

// The handle behind a report file: CreateFileW with CREATE_ALWAYS, shared with nobody,
// GENERIC_READ | GENERIC_WRITE, or GENERIC_WRITE alone when `writeOnly`. Null on failure.
ScopedHandle CreateReportHandle(const Text& fileName, bool writeOnly);

class Win32ReportFile : public ReportFileApi {
  public:
    std::unique_ptr<ReportFile> CreateAlways(const Text& fileName) override;
    std::unique_ptr<ReportFile> CreateWriteOnly(const Text& fileName) override;
    std::optional<std::string> ToAnsi(TextView text) override;
    bool AnsiIsUtf8() override;
};

}  // namespace tolvessa::win32
