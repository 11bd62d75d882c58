// Writing a report into a file: the file calls the platform supplies, and the writer over them.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "inventory/driver_scan.h"
#include "inventory/text.h"

namespace tolvessa {

// A file opened for the report; closed when the object goes.
class ReportFile {
  public:
    virtual ~ReportFile() = default;
    // Writes all of the bytes at the current position: true when every byte went out.
    virtual bool Write(std::string_view bytes) = 0;
};

// The file and code page calls behind the report writer (on Windows: CreateFileW with
// CloseHandle, WriteFile, WideCharToMultiByte and GetACP).
class ReportFileApi {
  public:
    static constexpr unsigned kUtf8CodePage = 65001;

    virtual ~ReportFileApi() = default;
    // Creates the file, or empties the one that is there, open for reading and writing and
    // shared with nobody. Null when that fails.
    virtual std::unique_ptr<ReportFile> CreateAlways(const Text& fileName) = 0;
    // As CreateAlways, but open for writing only: no read access is asked for, so a folder
    // that lets this account write files but not read them takes the file.
    virtual std::unique_ptr<ReportFile> CreateWriteOnly(const Text& fileName) = 0;
    // The text in the active ANSI code page, converted the platform's default way (characters
    // the code page lacks become its default character). Nothing when the conversion fails.
    virtual std::optional<std::string> ToAnsi(TextView text) = 0;
    // Whether the active ANSI code page is UTF-8.
    virtual bool AnsiIsUtf8() = 0;
};

// The UTF-8 byte order mark, written ahead of the text when the ANSI code page is UTF-8.
inline constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// Creates or empties the file, then writes the text into it in the ANSI code page with a single
// write, and closes it. Failures are silent: when the file cannot be created nothing else is
// done; a file that was created stays, empty, when a later step fails. The result, true when
// every byte was written, is there for tests.
bool WriteReportText(ReportFileApi& api, const Text& fileName, TextView text);

// Writes the log-style report of the list into the file. A list without rows writes no file at
// all and leaves one that is there untouched.
bool WriteDriverReport(ReportFileApi& api, const Text& fileName, const DriverList& list,
                       TextView title, TextView hostName, TextView statusText);

}  // namespace tolvessa
