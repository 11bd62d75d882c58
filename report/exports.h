// The driver list as data for other programs: CSV (RFC 4180) and one JSON document, both UTF-8
// without a byte-order mark. docs/tolvessa-export.schema.json describes the JSON document.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "inventory/driver_scan.h"
#include "inventory/file_digests.h"
#include "inventory/text.h"
#include "report/report_file.h"
#include "trust/file_verdict.h"
#include "trust/vulnerable_lists.h"

namespace tolvessa {

// Everything known about one row of the list.
struct ModuleRecord {
    DriverRow row;                            // the ten cells
    FileDigests digests;                      // empty cells where not computed or not applicable
    std::optional<FileTrust> trust;           // nothing when signatures were not checked
    std::vector<VulnerableMatch> vulnerable;  // the row's matches in the vulnerable lists
};

// Every row of the list with its digests and findings.
std::vector<ModuleRecord> ModuleRecords(const DriverList& list);

// The ten columns of the list, the five digests, "Signature", "Signer", "Catalog",
// "Known Vulnerable".
inline constexpr std::size_t kExportColumnCount = kColumnCount + kDigestColumnCount + 4;
extern const std::array<TextView, kExportColumnCount> kExportColumnCaptions;

// One cell past the ten (`column` at least kColumnCount, below kExportColumnCount): a digest, the
// verdict ("" until it is in), the signer, the catalog or the matches.
Text ExtraCell(const FileDigests& digests, const RowFindings& findings, std::size_t column);

// A record's cells in the order of kExportColumnCaptions.
std::array<Text, kExportColumnCount> ExportCells(const ModuleRecord& record);

// A header row of the captions, then one row per record; CR LF after every row. A cell that
// begins with "=", "+", "-", "@", a tab or CR is written after an apostrophe, so a spreadsheet
// never takes it for a formula. A cell that holds a comma, a quote, CR or LF is quoted, its
// quotes doubled.
std::string ExportCsv(const std::vector<ModuleRecord>& records);

// A moment in UTC, as the platform's clock gives it.
struct UtcTime {
    int year = 1970, month = 1, day = 1, hour = 0, minute = 0, second = 0;
};

// "2026-03-01T09:05:07Z".
std::string IsoUtcText(const UtcTime& time);

// What the JSON document says about the run, beside the modules.
struct ExportContext {
    Text computerName;
    UtcTime time;
    int bits = 0;  // 32 or 64: the build of the program that ran
};

// The version of the JSON document's layout, written into it as "formatVersion".
inline constexpr int kExportFormatVersion = 1;

// The whole JSON document, LF line ends.
std::string ExportJson(const ExportContext& context, const std::vector<ModuleRecord>& records);

// `text` as a JSON string, quotes included: control characters, quotes and backslashes escaped,
// everything else as UTF-8 (a lone surrogate as U+FFFD).
std::string JsonString(TextView text);

// Creates or empties the file, open for writing only, and writes the bytes into it as they are.
// False when the name is empty, the file cannot be created, or not every byte was written.
bool WriteExportFile(ReportFileApi& api, const Text& fileName, std::string_view bytes);

}  // namespace tolvessa
