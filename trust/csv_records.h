// Records of a CSV file (RFC 4180), with the tolerance that lists published as CSV need: a UTF-8
// byte-order mark, CR LF or LF line ends, no line end after the last record, quotes inside
// unquoted cells, blank lines.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tolvessa {

// One record of the file.
struct CsvRecord {
    std::vector<std::string> cells;
    bool malformed = false;  // text after a closing quote
    // A quote that is never closed: the data ends inside the cell, so it was cut short. Where
    // the quote is.
    std::optional<std::size_t> cutQuote;
};

// The records of CSV data, one after another, read in place.
class CsvCursor {
  public:
    explicit CsvCursor(std::string_view data) : data_(data) {
        if (data_.starts_with("\xEF\xBB\xBF"))
            data_.remove_prefix(3);
    }

    // The next record; false at the end of the data. Blank lines are passed over.
    bool Next(CsvRecord& record);

    // Line and column (both from 1, the column in bytes) of a place in the data.
    std::pair<std::size_t, std::size_t> LineAndColumn(std::size_t at) const;

  private:
    // A quoted cell, up to and including its closing quote; "" stands for one quote.
    void Quoted(std::string& cell, CsvRecord& record);

    // The rest of a cell up to a separator or a line end; quotes here stand for themselves.
    void Unquoted(std::string& cell);

    static bool IsCellEnd(char c) { return c == ',' || c == '\r' || c == '\n'; }

    std::string_view data_;
    std::size_t at_ = 0;
};

}  // namespace tolvessa
