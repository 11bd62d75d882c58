#include "trust/csv_records.h"

#include <algorithm>

namespace tolvessa {

bool CsvCursor::Next(CsvRecord& record) {
    while (at_ < data_.size() && (data_[at_] == '\r' || data_[at_] == '\n'))
        ++at_;
    if (at_ >= data_.size())
        return false;
    record.cells.clear();
    record.malformed = false;
    record.cutQuote.reset();
    for (;;) {
        std::string cell;
        if (data_[at_] == '"')
            Quoted(cell, record);
        Unquoted(cell);
        record.cells.push_back(std::move(cell));
        if (at_ >= data_.size())
            return true;
        const char c = data_[at_++];
        if (c == ',') {
            if (at_ >= data_.size()) {
                record.cells.emplace_back();  // a separator right at the end
                return true;
            }
            continue;
        }
        if (c == '\r' && at_ < data_.size() && data_[at_] == '\n')
            ++at_;
        return true;  // the line end
    }
}

std::pair<std::size_t, std::size_t> CsvCursor::LineAndColumn(std::size_t at) const {
    const std::string_view before = data_.substr(0, at);
    const std::size_t lineStart = before.rfind('\n');
    const auto line = static_cast<std::size_t>(std::count(before.begin(), before.end(), '\n'));
    return {line + 1, lineStart == std::string_view::npos ? at + 1 : at - lineStart};
}

void CsvCursor::Quoted(std::string& cell, CsvRecord& record) {
    const std::size_t opening = at_;
    ++at_;
    for (;;) {
        const std::size_t quote = data_.find('"', at_);
        if (quote == std::string_view::npos) {
            cell.append(data_.substr(at_));
            at_ = data_.size();
            record.cutQuote = opening;  // never closed: it ran to the end of the data
            return;
        }
        cell.append(data_.substr(at_, quote - at_));
        at_ = quote + 1;
        if (at_ >= data_.size() || data_[at_] != '"')
            break;
        cell.push_back('"');
        ++at_;
    }
    if (at_ < data_.size() && !IsCellEnd(data_[at_]))
        record.malformed = true;  // text after the closing quote
}

void CsvCursor::Unquoted(std::string& cell) {
    const std::size_t end = std::min(data_.find_first_of(",\r\n", at_), data_.size());
    cell.append(data_.substr(at_, end - at_));
    at_ = end;
}

}  // namespace tolvessa
