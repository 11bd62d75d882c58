// The LOLDrivers list of known-vulnerable (and malicious) drivers in its published CSV form
// (drivers.csv), read from the list's bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "inventory/text.h"

namespace tolvessa {

struct LolDriversEntry {
    Text id;        // the entry's UUID
    Text category;  // "vulnerable driver" or "malicious"
    // Lower-case hex, each of the right length for its column; a cell may hold several.
    std::vector<std::string> md5, sha1, sha256;
    // Authenticode image hashes. MD5 is read but never matched: the program computes no MD5
    // image hash.
    std::vector<std::string> imageMd5, imageSha1, imageSha256;
    bool operator==(const LolDriversEntry&) const = default;
};

struct LolDriversRead {
    // Why the bytes are no LOLDrivers list at all (no header, columns missing); empty when read.
    Text error;
    std::vector<LolDriversEntry> entries;
    std::size_t rows = 0;           // data rows seen, skipped ones included (blank lines are none)
    std::size_t skippedRows = 0;    // malformed: text after a closing quote, a cell count unlike
                                    // the header's, or no Id
    std::size_t ignoredHashes = 0;  // values of a hash column that are no hex of its length
    // Where the list ends when it ends inside a quoted cell, which only a file cut short does:
    // "inside a quoted cell opened on line 7, column 41". The rows before that one are read;
    // the cut row is no row. Empty for a list that ends where it should.
    Text cutAt;
};

// The columns are found by their header names. Tolerated: a UTF-8 byte-order mark, CR LF or LF
// line ends, no line end after the last row, quotes inside unquoted cells, blank lines.
LolDriversRead ReadLolDriversCsv(std::span<const std::uint8_t> bytes);

// The header names the reader needs, in the order it reports missing ones.
extern const std::array<std::string_view, 7> kLolDriversRequiredColumns;

}  // namespace tolvessa
