// The texts made from the driver list: the report (for the log file and for Export) and the
// texts the copy commands put on the clipboard.
#pragma once

#include <array>
#include <vector>

#include "inventory/driver_scan.h"
#include "inventory/text.h"

namespace tolvessa {

enum class ReportStyle {
    kLog,     // one empty line between blocks, none after the last
    kExport,  // one empty line after every block, the last included
};

// The ten lines that describe one row: a label per column followed directly by the cell text.
std::array<Text, kColumnCount> DriverBlockLines(const DriverRow& row);

// The whole report as lines: the six header lines (title, host name, empty, the status text
// without leading and trailing blanks, empty, empty), then one block per row in list order.
std::vector<Text> DriverReportLines(const DriverList& list, TextView title, TextView hostName,
                                    TextView statusText, ReportStyle style);

// Every line followed by CR LF, the last one included.
Text JoinReportLines(const std::vector<Text>& lines);

// The row's ten block lines joined by CR LF, without a line break after the last.
Text EntireLineText(const DriverRow& row);

// The copy commands of the list's context menu.
enum class ClipboardItem {
    kEntireLine,
    kFileName,
    kAddress,
    kPublisher,
    kDescription,
    kMd5Hash,
};

// What one copy command puts on the clipboard for a row.
Text ClipboardText(const DriverRow& row, ClipboardItem item);

}  // namespace tolvessa
