#include "report/report_file.h"

#include "report/driver_report.h"

namespace tolvessa {

bool WriteReportText(ReportFileApi& api, const Text& fileName, TextView text) {
    // The file is created (or emptied) before anything else, so that even a failed conversion
    // leaves an empty file rather than an old report.
    const std::unique_ptr<ReportFile> file = api.CreateAlways(fileName);
    if (!file)
        return false;
    const std::optional<std::string> ansi = api.ToAnsi(text);
    if (!ansi)
        return false;
    std::string bytes;
    if (api.AnsiIsUtf8()) {
        bytes.reserve(kUtf8Bom.size() + ansi->size());
        bytes.append(kUtf8Bom);
    }
    bytes.append(*ansi);
    return file->Write(bytes);
}

bool WriteDriverReport(ReportFileApi& api, const Text& fileName, const DriverList& list,
                       TextView title, TextView hostName, TextView statusText) {
    if (list.Count() == 0)
        return false;
    const Text text =
        JoinReportLines(DriverReportLines(list, title, hostName, statusText, ReportStyle::kLog));
    return WriteReportText(api, fileName, text);
}

}  // namespace tolvessa
