#include "shell/win32/list_adapter.h"

#include <algorithm>
#include <array>
#include <string>
#include <string_view>

#include "platform/win32/win32_handles.h"
#include "platform/win32/win32_inventory.h"
#include "report/exports.h"
#include "shell/window_rules.h"

namespace tolvessa::win32 {

namespace {

constexpr UINT_PTR kSubclassId = 1;
// Posted to the list view itself when a column drag ends (the drag is applied after the
// notification).
constexpr UINT kColumnDragEnded = WM_APP + 2;

}  // namespace

DriverListAdapter::DriverListAdapter(DriverList& list, std::function<ShadeOptions()> shading)
    : list_(list), shading_(std::move(shading)) {}

DriverListAdapter::~DriverListAdapter() {
    list_.SetListener({});
    if (lv_ && ::IsWindow(lv_))
        ::RemoveWindowSubclass(lv_, &DriverListAdapter::Subclass, kSubclassId);
}

namespace {

// The width of a column that shows `digits` hex digits after `prefix` whole: the widest digit
// each time, and the cell's margins.
int HexCellWidth(HWND lv, std::size_t digits, std::wstring_view prefix) {
    int width = 0;
    for (const wchar_t digit : std::wstring_view(L"0123456789ABCDEF")) {
        const std::wstring text = std::wstring(prefix) + std::wstring(digits, digit);
        width = std::max(width, ListView_GetStringWidth(lv, text.c_str()));
    }
    return width + 24;
}

}  // namespace

HWND DriverListAdapter::Create(HWND parent, HINSTANCE instance, int id, HFONT font,
                               std::function<void(std::size_t row)> rowAppended) {
    rowAppended_ = std::move(rowAppended);
    lv_ = ::CreateWindowExW(WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"",
                            WS_CHILD | WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL |
                                LVS_OWNERDATA | LVS_NOSORTHEADER,
                            0, 0, 0, 0, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                            instance, nullptr);
    if (!lv_)
        return nullptr;
    ::SendMessageW(lv_, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    ListView_SetExtendedListViewStyle(
        lv_, LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER | LVS_EX_FLATSB);
    for (std::size_t c = 0; c < kColumnCount; ++c) {
        Text caption(kColumnCaptions[c]);
        LVCOLUMNW column = {};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
        column.fmt = LVCFMT_LEFT;
        column.cx = kColumnRules[c].width;
        // The 64-bit table's addresses have 16 digits: the column starts wide enough for one.
        if (c == kBaseAddress && kNativeModuleTableLayout == ModuleTableLayout::k64Bit)
            column.cx = std::max(column.cx, HexCellWidth(lv_, 16, L"0x"));
        column.pszText = reinterpret_cast<wchar_t*>(caption.data());
        ListView_InsertColumn(lv_, static_cast<int>(c), &column);
    }
    ::SetWindowSubclass(lv_, &DriverListAdapter::Subclass, kSubclassId,
                        reinterpret_cast<DWORD_PTR>(this));

    list_.SetListener({[this](std::size_t row) {
                           ListView_SetItemCountEx(lv_, static_cast<int>(list_.Count()),
                                                   LVSICF_NOINVALIDATEALL | LVSICF_NOSCROLL);
                           if (rowAppended_)
                               rowAppended_(row);
                       },
                       [this] {
                           // One update bracket: the list is repainted once, empty.
                           ::SendMessageW(lv_, WM_SETREDRAW, FALSE, 0);
                           ListView_SetItemCountEx(lv_, 0, 0);
                           ::SendMessageW(lv_, WM_SETREDRAW, TRUE, 0);
                           ::InvalidateRect(lv_, nullptr, TRUE);
                       },
                       [this](std::size_t row) {
                           ListView_RedrawItems(lv_, static_cast<int>(row), static_cast<int>(row));
                       }});
    return lv_;
}

void DriverListAdapter::ShowExtraColumns(std::vector<std::size_t> columns) {
    if (!lv_ || columns == extra_)
        return;
    for (std::size_t c = kColumnCount + extra_.size(); c-- > kColumnCount;)
        ListView_DeleteColumn(lv_, static_cast<int>(c));
    extra_ = std::move(columns);
    const int digestWidth = HexCellWidth(lv_, 64, L"");
    for (std::size_t i = 0; i < extra_.size(); ++i) {
        const std::size_t shown = extra_[i];
        Text caption(kExportColumnCaptions[shown]);
        LVCOLUMNW column = {};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
        column.fmt = LVCFMT_LEFT;
        if (shown < kColumnCount + kDigestColumnCount)
            column.cx = digestWidth;
        else if (shown == kColumnCount + kDigestColumnCount)
            column.cx = 90;  // "Signature": a verdict word
        else if (shown == kExportColumnCount - 1)
            column.cx = 300;  // "Known Vulnerable": a list, an id and what matched
        else
            column.cx = 180;  // "Signer", "Catalog"
        column.pszText = reinterpret_cast<wchar_t*>(caption.data());
        ListView_InsertColumn(lv_, static_cast<int>(kColumnCount + i), &column);
    }
}

LRESULT CALLBACK DriverListAdapter::Subclass(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                             UINT_PTR, DWORD_PTR self) {
    auto* adapter = reinterpret_cast<DriverListAdapter*>(self);
    switch (message) {
        case WM_SIZE: {
            // Also when a scroll bar comes or goes: the client width is what is shared.
            const LRESULT result = ::DefSubclassProc(hwnd, message, wParam, lParam);
            adapter->ShareColumns();
            return result;
        }
        case WM_NOTIFY: {
            const auto* header = reinterpret_cast<const NMHDR*>(lParam);
            if (header->hwndFrom == ListView_GetHeader(hwnd) &&
                (header->code == HDN_ENDTRACKW || header->code == HDN_ENDTRACKA)) {
                ::PostMessageW(hwnd, kColumnDragEnded, 0, 0);
            }
            break;
        }
        case kColumnDragEnded:
            adapter->KeepMinimumWidths();
            return 0;
        case WM_NCDESTROY:
            ::RemoveWindowSubclass(hwnd, &DriverListAdapter::Subclass, kSubclassId);
            adapter->lv_ = nullptr;
            break;
        default:
            break;
    }
    return ::DefSubclassProc(hwnd, message, wParam, lParam);
}

void DriverListAdapter::ShareColumns() {
    auto clientWidth = [this] {
        RECT client;
        ::GetClientRect(lv_, &client);
        return static_cast<int>(client.right);
    };
    // Setting the widths can make the horizontal scroll bar come or go, and with it the vertical
    // one: share again while the client width moves.
    int width = clientWidth();
    for (int round = 0; round < 3; ++round) {
        std::array<int, kColumnCount> current{};
        for (std::size_t c = 0; c < kColumnCount; ++c)
            current[c] = ListView_GetColumnWidth(lv_, static_cast<int>(c));
        const auto widths = ShareColumnWidths(width, current);
        for (std::size_t c = 0; c < kColumnCount; ++c) {
            if (kColumnRules[c].Shared() && widths[c] != current[c])
                ListView_SetColumnWidth(lv_, static_cast<int>(c), widths[c]);
        }
        const int after = clientWidth();
        if (after == width)
            return;
        width = after;
    }
}

void DriverListAdapter::KeepMinimumWidths() {
    for (std::size_t c = 0; c < kColumnCount; ++c) {
        const int width = ListView_GetColumnWidth(lv_, static_cast<int>(c));
        const int kept = ColumnWidthAfterDrag(c, width);
        if (kept != width)
            ListView_SetColumnWidth(lv_, static_cast<int>(c), kept);
    }
}

std::optional<LRESULT> DriverListAdapter::OnNotify(const NMHDR* header) {
    if (!lv_ || header->hwndFrom != lv_)
        return std::nullopt;
    if (header->code == LVN_GETDISPINFOW) {
        auto* info = reinterpret_cast<NMLVDISPINFOW*>(const_cast<NMHDR*>(header));
        const auto row = static_cast<std::size_t>(info->item.iItem);
        const auto column = static_cast<std::size_t>(info->item.iSubItem);
        if ((info->item.mask & LVIF_TEXT) && row < list_.Count()) {
            if (column < kColumnCount) {
                lstrcpynW(info->item.pszText, Wide(list_.Row(row)[column]), info->item.cchTextMax);
            } else if (column - kColumnCount < extra_.size()) {
                const Text cell = ExtraCell(list_.Digests(row), list_.Findings(row),
                                            extra_[column - kColumnCount]);
                lstrcpynW(info->item.pszText, Wide(cell), info->item.cchTextMax);
            }
        }
        return 0;
    }
    if (header->code == NM_CUSTOMDRAW)
        return OnCustomDraw(reinterpret_cast<NMLVCUSTOMDRAW*>(const_cast<NMHDR*>(header)));
    return 0;
}

LRESULT DriverListAdapter::OnCustomDraw(NMLVCUSTOMDRAW* draw) const {
    switch (draw->nmcd.dwDrawStage) {
        case CDDS_PREPAINT:
            return CDRF_NOTIFYITEMDRAW;
        case CDDS_ITEMPREPAINT: {
            // LvAdvancedCustomDrawItem: the background of a row with a shade; the list paints it.
            const auto index = static_cast<std::size_t>(draw->nmcd.dwItemSpec);
            const bool inList = index < list_.Count();
            const RowShade shade =
                ShadeOfRow(inList ? &list_.Row(index) : nullptr,
                           inList ? &list_.Findings(index) : nullptr, shading_());
            if (const auto colour = ShadeColour(shade))
                draw->clrTextBk = *colour;
            return CDRF_DODEFAULT;
        }
        default:
            return CDRF_DODEFAULT;
    }
}

std::optional<std::size_t> DriverListAdapter::SelectedRow() const {
    const int index = ListView_GetNextItem(lv_, -1, LVNI_SELECTED);
    if (index < 0 || static_cast<std::size_t>(index) >= list_.Count())
        return std::nullopt;
    return static_cast<std::size_t>(index);
}

POINT DriverListAdapter::KeyboardMenuPoint() const {
    RECT r = {};
    if (const auto selected = SelectedRow())
        ListView_GetItemRect(lv_, static_cast<int>(*selected), &r, LVIR_LABEL);
    POINT p = {r.left, r.bottom};
    ::ClientToScreen(lv_, &p);
    return p;
}

}  // namespace tolvessa::win32
