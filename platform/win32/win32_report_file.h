// The report file on Windows: CreateFileW shared with nobody, WriteFile, the ANSI code page.
#pragma once

#include "report/report_file.h"

namespace tolvessa::win32 {

class Win32ReportFile : public ReportFileApi {
  public:
    std::unique_ptr<ReportFile> CreateAlways(const Text& fileName) override;
    std::optional<std::string> ToAnsi(TextView text) override;
    bool AnsiIsUtf8() override;
};

}  // namespace tolvessa::win32
