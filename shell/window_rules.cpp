#include "shell/window_rules.h"

#include "report/exports.h"

#include <algorithm>
#include <vector>

namespace tolvessa {

const std::array<ColumnRule, kColumnCount> kColumnRules = {{{80, 0},
                                                            {265, 265},
                                                            {115, 0},
                                                            {115, 0},
                                                            {150, 150},
                                                            {150, 150},
                                                            {100, 0},
                                                            {150, 150},
                                                            {80, 0},
                                                            {80, 0}}};

std::array<int, kColumnCount> ShareColumnWidths(int listClientWidth) {
    std::array<int, kColumnCount> start{};
    for (std::size_t c = 0; c < kColumnCount; ++c)
        start[c] = kColumnRules[c].width;
    return ShareColumnWidths(listClientWidth, start);
}

std::array<int, kColumnCount> ShareColumnWidths(int listClientWidth,
                                                const std::array<int, kColumnCount>& current) {
    std::array<int, kColumnCount> widths{};
    int amount = listClientWidth;
    std::vector<std::size_t> sharing;
    for (std::size_t c = 0; c < kColumnCount; ++c) {
        if (kColumnRules[c].Shared()) {
            sharing.push_back(c);
        } else {
            widths[c] = current[c];
            amount -= current[c];
        }
    }
    while (!sharing.empty()) {
        const int n = static_cast<int>(sharing.size());
        const int share = amount / n;
        const int remainder = amount % n;
        std::vector<std::size_t> staying;
        for (std::size_t i = 0; i < sharing.size(); ++i) {
            const std::size_t c = sharing[i];
            const int own = share + (i == 0 ? remainder : 0);
            if (own < kColumnRules[c].minWidth) {
                widths[c] = kColumnRules[c].minWidth;
            } else {
                widths[c] = own;
                staying.push_back(c);
            }
        }
        if (staying.size() == sharing.size())
            break;
        for (std::size_t c : sharing) {
            if (widths[c] == kColumnRules[c].minWidth &&
                std::find(staying.begin(), staying.end(), c) == staying.end()) {
                amount -= kColumnRules[c].minWidth;
            }
        }
        sharing = std::move(staying);
    }
    return widths;
}

int ColumnWidthAfterDrag(std::size_t column, int width) {
    if (column >= kColumnCount)
        return width;
    const int least = kColumnRules[column].minWidth;
    return width < least ? least : width;
}

bool HighlightRow(const DriverRow* row, bool highlightOn) {
    if (!row || !highlightOn)
        return false;
    return (*row)[kExists] == u"False" || (*row)[kHidden] == u"True" || (*row)[kPublisher].empty();
}

bool IsDoubtfulVerdict(SignatureVerdict verdict) {
    switch (verdict) {
        case SignatureVerdict::kEmbedded:
        case SignatureVerdict::kCatalog:
            return false;
        case SignatureVerdict::kUnsigned:
        case SignatureVerdict::kInvalid:
        case SignatureVerdict::kUntrusted:
        case SignatureVerdict::kUnreadable:
            break;
    }
    return true;
}

RowShade ShadeOfRow(const DriverRow* row, const RowFindings* findings,
                    const ShadeOptions& options) {
    if (!row)
        return RowShade::kNone;
    if (options.listLoaded && findings && !findings->vulnerable.empty())
        return RowShade::kVulnerable;
    if (HighlightRow(row, options.highlightOn))
        return RowShade::kSuspicious;
    if (options.signaturesShown && findings && findings->trust &&
        IsDoubtfulVerdict(findings->trust->verdict)) {
        return RowShade::kSignature;
    }
    return RowShade::kNone;
}

std::optional<std::uint32_t> ShadeColour(RowShade shade) {
    switch (shade) {
        case RowShade::kVulnerable:
            return kVulnerableColour;
        case RowShade::kSuspicious:
            return kHighlightColour;
        case RowShade::kSignature:
            return kSignatureColour;
        case RowShade::kNone:
            break;
    }
    return std::nullopt;
}

std::vector<std::size_t> ShownExtraColumns(bool hashesAndSignatures, bool listLoaded) {
    // The export's columns: the ten, the digests, "Signature", "Signer", "Catalog",
    // "Known Vulnerable".
    std::vector<std::size_t> columns;
    if (hashesAndSignatures) {
        for (std::size_t c = kColumnCount; c < kExportColumnCount - 1; ++c)
            columns.push_back(c);
    }
    if (listLoaded)
        columns.push_back(kExportColumnCount - 1);
    return columns;
}

PopupEnabling PopupEnablingFor(bool rowSelected, std::size_t rowCount) {
    PopupEnabling e;
    e.showFileProperties = rowSelected;
    e.openContainingFolder = rowSelected;
    e.copyToClipboard = rowSelected;
    e.searchOnGoogle = rowSelected;
    e.verifyFileSignature = rowSelected;
    e.copySelectedDriver = rowSelected;
    e.copyAllDrivers = rowCount > 0;
    return e;
}

WindowPoint AboutWindowPlace(const WindowRect& mainWindow, int aboutWidth, int aboutHeight,
                             const WindowRect& desktop) {
    WindowPoint p;
    p.x = mainWindow.left + (mainWindow.Width() - aboutWidth) / 2;
    p.y = mainWindow.top + (mainWindow.Height() - aboutHeight) / 2;
    if (p.x < desktop.left)
        p.x = desktop.left;
    if (p.y < desktop.top)
        p.y = desktop.top;
    return p;
}

}  // namespace tolvessa
