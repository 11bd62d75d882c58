#include "report/driver_report.h"

namespace tolvessa {

namespace {

constexpr std::array<TextView, kColumnCount> kBlockLabels = {
    u"Load Order: ",  u"Image Name: ", u"Base Address: ", u"Image Size: ", u"Publisher: ",
    u"Description: ", u"Version: ",    u"MD5 Hash: ",     u"Hidden: ",     u"Exists: ",
};

constexpr TextView kLineBreak = u"\r\n";

}  // namespace

std::array<Text, kColumnCount> DriverBlockLines(const DriverRow& row) {
    std::array<Text, kColumnCount> lines;
    for (std::size_t column = 0; column < kColumnCount; ++column) {
        lines[column].reserve(kBlockLabels[column].size() + row[column].size());
        lines[column].append(kBlockLabels[column]).append(row[column]);
    }
    return lines;
}

std::vector<Text> DriverReportLines(const DriverList& list, TextView title, TextView hostName,
                                    TextView statusText, ReportStyle style) {
    std::vector<Text> lines;
    lines.reserve(6 + list.Count() * (kColumnCount + 1));
    lines.emplace_back(title);
    lines.emplace_back(hostName);
    lines.emplace_back();
    lines.emplace_back(TrimBlanks(statusText));
    lines.emplace_back();
    lines.emplace_back();

    for (std::size_t index = 0; index < list.Count(); ++index) {
        for (Text& line : DriverBlockLines(list.Row(index)))
            lines.push_back(std::move(line));
        // The log leaves the separator out after the last block; the count is read again here
        // rather than kept from the start.
        if (style == ReportStyle::kExport || index + 1 < list.Count())
            lines.emplace_back();
    }
    return lines;
}

Text JoinReportLines(const std::vector<Text>& lines) {
    std::size_t size = 0;
    for (const Text& line : lines)
        size += line.size() + kLineBreak.size();
    Text text;
    text.reserve(size);
    for (const Text& line : lines)
        text.append(line).append(kLineBreak);
    return text;
}

Text EntireLineText(const DriverRow& row) {
    Text text;
    bool first = true;
    for (const Text& line : DriverBlockLines(row)) {
        if (!first)
            text.append(kLineBreak);
        text.append(line);
        first = false;
    }
    return text;
}

Text ClipboardText(const DriverRow& row, ClipboardItem item) {
    switch (item) {
        case ClipboardItem::kEntireLine:
            return EntireLineText(row);
        case ClipboardItem::kFileName:
            return row[kImageName];
        case ClipboardItem::kAddress:
            return row[kBaseAddress];
        case ClipboardItem::kPublisher:
            return row[kPublisher];
        case ClipboardItem::kDescription:
            return row[kDescription];
        case ClipboardItem::kMd5Hash:
            return row[kMd5Hash];
    }
    return {};
}

}  // namespace tolvessa
