// The main window's rules that need no window: column sharing, the highlight decision, the
// context menu's enabling and the About window's place.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "inventory/driver_scan.h"
#include "inventory/row_findings.h"

namespace tolvessa {

struct ColumnRule {
    int width;     // the start width of a fixed column
    int minWidth;  // 0 for a fixed column; the least width of a shared one
    bool Shared() const { return minWidth > 0; }
};

// "Load Order" 80, "Image Name" shared (265 at least), "Base Address" 115, "Image Size" 115,
// "Publisher" and "Description" shared (150), "Version" 100, "MD5 Hash" shared (150), "Hidden"
// and "Exists" 80.
extern const std::array<ColumnRule, kColumnCount> kColumnRules;

// Widths of all columns for a list of the given client width: what the fixed columns leave is
// divided equally among the shared columns, the first of them also taking the remainder; a
// column whose share is below its minimum gets its minimum and leaves the sharing, its width
// taken off the amount, and the sharing is done again among the others until none leaves.
// The fixed columns keep the widths given in `current` (the user may have dragged them).
std::array<int, kColumnCount> ShareColumnWidths(int listClientWidth,
                                                const std::array<int, kColumnCount>& current);
std::array<int, kColumnCount> ShareColumnWidths(int listClientWidth);

// The width a column keeps after the user dragged it to `width`.
int ColumnWidthAfterDrag(std::size_t column, int width);

// The highlight colour, 0x00BBGGRR: red 227, green 191, blue 136.
inline constexpr std::uint32_t kHighlightColour = 0x0088BFE3;

// Whether a row is painted in the highlight colour: only while highlighting is on, for a
// missing file ("Exists" is "False"), a hidden one ("Hidden" is "True") or one without a
// publisher.
bool HighlightRow(const DriverRow* row, bool highlightOn);

// The colour of rows whose signature is in doubt (pale yellow:
// red 255, green 236, blue 160), and of rows a vulnerable-driver list names (pale red: red 255,
// green 170, blue 170).
inline constexpr std::uint32_t kSignatureColour = 0x00A0ECFF;
inline constexpr std::uint32_t kVulnerableColour = 0x00AAAAFF;

// Whether a verdict leaves the file's signature in doubt: "Unsigned", "Invalid", "Untrusted" and
// "Unreadable" (nothing vouches for a file that could not be read); not "Embedded", "Catalog".
bool IsDoubtfulVerdict(SignatureVerdict verdict);

// What a row is painted for, most pressing first.
enum class RowShade : std::uint8_t { kNone, kVulnerable, kSuspicious, kSignature };

// What decides a row's shade beside the row itself.
struct ShadeOptions {
    bool highlightOn = false;      // "Highlight Suspicious Modules"
    bool signaturesShown = false;  // "Show Hashes and Signatures"
    bool listLoaded = false;       // some vulnerable-driver list is loaded
};

// A row a loaded list names is painted for that, whatever the Options marks; then the
// suspicious-row rule (HighlightRow); then, while signatures are shown, a row whose verdict is
// in and in doubt (IsDoubtfulVerdict).
RowShade ShadeOfRow(const DriverRow* row, const RowFindings* findings, const ShadeOptions& options);
// The background colour of a shade; nothing for kNone.
std::optional<std::uint32_t> ShadeColour(RowShade shade);

// The columns shown after the ten, as indices into the export's columns (kExportColumnCaptions):
// with hashes and signatures, the five digests, "Signature", "Signer" and "Catalog"; with a list
// loaded, "Known Vulnerable" last.
std::vector<std::size_t> ShownExtraColumns(bool hashesAndSignatures, bool listLoaded);

// Which items of the list's context menu are enabled as it opens. "Delete File" and
// "Delete File on Reboot" are never touched: they stay enabled.
struct PopupEnabling {
    bool showFileProperties;
    bool openContainingFolder;
    bool copyToClipboard;
    bool searchOnGoogle;
    bool verifyFileSignature;
    bool copyAllDrivers;
    bool copySelectedDriver;
    bool operator==(const PopupEnabling&) const = default;
};
PopupEnabling PopupEnablingFor(bool rowSelected, std::size_t rowCount);

struct WindowRect {
    int left, top, right, bottom;
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
};
struct WindowPoint {
    int x, y;
    bool operator==(const WindowPoint&) const = default;
};

// The About window's top-left corner: centred over the main window (each half truncated toward
// zero), moved onto the desktop's left or top edge when it would start beyond it.
WindowPoint AboutWindowPlace(const WindowRect& mainWindow, int aboutWidth, int aboutHeight,
                             const WindowRect& desktop);

}  // namespace tolvessa
