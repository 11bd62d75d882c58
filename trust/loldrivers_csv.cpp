#include "trust/loldrivers_csv.h"

#include <algorithm>
#include <string>
#include <string_view>

#include "trust/csv_records.h"

namespace tolvessa {

namespace {

// Without the characters of code 0x20 and below around it, as TrimBlanks does for text.
std::string_view TrimAscii(std::string_view text) {
    const auto blank = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

// The values of a hash cell ("a, b, c"), each checked for its length; `ignored` counts those
// that are no hex of that length.
void ReadHashCell(std::string_view cell, std::size_t length, std::vector<std::string>& out,
                  std::size_t& ignored) {
    while (!cell.empty()) {
        const std::size_t comma = cell.find(',');
        const std::string_view value = TrimAscii(cell.substr(0, comma));
        cell = comma == std::string_view::npos ? std::string_view() : cell.substr(comma + 1);
        if (value.empty())
            continue;
        if (std::optional<std::string> hex = LowerHexDigits(value, length)) {
            if (std::find(out.begin(), out.end(), *hex) == out.end())
                out.push_back(std::move(*hex));
        } else {
            ++ignored;
        }
    }
}

Text CellText(std::string_view cell) {
    return Utf8ToText(TrimAscii(cell));
}

}  // namespace

const std::array<std::string_view, 7> kLolDriversRequiredColumns = {
    "Id",
    "Category",
    "KnownVulnerableSamples_MD5",
    "KnownVulnerableSamples_SHA1",
    "KnownVulnerableSamples_SHA256",
    "KnownVulnerableSamples_Authentihash_SHA1",
    "KnownVulnerableSamples_Authentihash_SHA256",
};

LolDriversRead ReadLolDriversCsv(std::span<const std::uint8_t> bytes) {
    LolDriversRead read;
    CsvCursor cursor(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    CsvRecord header;
    if (!cursor.Next(header)) {
        read.error = u"the list is empty: no header row";
        return read;
    }
    if (header.malformed || header.cutQuote) {
        read.error = u"the header row has a quote that is not closed properly";
        return read;
    }

    const auto column = [&header](std::string_view name) -> std::optional<std::size_t> {
        for (std::size_t i = 0; i < header.cells.size(); ++i) {
            if (TrimAscii(header.cells[i]) == name)
                return i;
        }
        return std::nullopt;
    };
    std::array<std::size_t, kLolDriversRequiredColumns.size()> at{};
    Text missing;
    for (std::size_t i = 0; i < kLolDriversRequiredColumns.size(); ++i) {
        if (const std::optional<std::size_t> found = column(kLolDriversRequiredColumns[i])) {
            at[i] = *found;
        } else {
            missing += missing.empty() ? u"" : u", ";
            missing += AsciiText(kLolDriversRequiredColumns[i]);
        }
    }
    if (!missing.empty()) {
        read.error = u"not a LOLDrivers list: the header has no column " + missing;
        return read;
    }
    const std::optional<std::size_t> imageMd5 = column("KnownVulnerableSamples_Authentihash_MD5");

    CsvRecord record;
    while (cursor.Next(record)) {
        if (record.cutQuote) {
            // The last record, as the cell ran to the end of the data: no row at all.
            const auto [line, place] = cursor.LineAndColumn(*record.cutQuote);
            read.cutAt = u"inside a quoted cell opened on line " + DecimalText(line) +
                         u", column " + DecimalText(place);
            break;
        }
        ++read.rows;
        const std::vector<std::string>& cells = record.cells;
        if (record.malformed || cells.size() != header.cells.size() ||
            TrimAscii(cells[at[0]]).empty()) {
            ++read.skippedRows;
            continue;
        }
        LolDriversEntry entry;
        entry.id = CellText(cells[at[0]]);
        entry.category = CellText(cells[at[1]]);
        ReadHashCell(cells[at[2]], 32, entry.md5, read.ignoredHashes);
        ReadHashCell(cells[at[3]], 40, entry.sha1, read.ignoredHashes);
        ReadHashCell(cells[at[4]], 64, entry.sha256, read.ignoredHashes);
        ReadHashCell(cells[at[5]], 40, entry.imageSha1, read.ignoredHashes);
        ReadHashCell(cells[at[6]], 64, entry.imageSha256, read.ignoredHashes);
        if (imageMd5)
            ReadHashCell(cells[*imageMd5], 32, entry.imageMd5, read.ignoredHashes);
        read.entries.push_back(std::move(entry));
    }
    return read;
}

}  // namespace tolvessa
