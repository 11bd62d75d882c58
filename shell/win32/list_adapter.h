// The driver list's view: a virtual report-style list view that shows the rows of a DriverList
// (it asks for each cell when it paints it), colours suspicious rows, and shares its columns
// whenever its client width changes.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <functional>
#include <optional>
#include <vector>

#include "inventory/driver_scan.h"
#include "shell/window_rules.h"

namespace tolvessa::win32 {

class DriverListAdapter {
  public:
    // `shading` tells what decides a row's colour beside the row, asked for each row painted.
    DriverListAdapter(DriverList& list, std::function<ShadeOptions()> shading);
    ~DriverListAdapter();
    DriverListAdapter(const DriverListAdapter&) = delete;
    DriverListAdapter& operator=(const DriverListAdapter&) = delete;

    // Creates the list view (the list `Lv`) as a child control with its ten columns and follows
    // the list's changes from now on; `rowAppended` hears of every row the list gains.
    HWND Create(HWND parent, HINSTANCE instance, int id, HFONT font,
                std::function<void(std::size_t row)> rowAppended);

    // Shows these columns after the ten (indices into kExportColumnCaptions, see
    // ShownExtraColumns), in this order, in place of the ones shown before; a digest column is
    // wide enough for a whole SHA-256.
    void ShowExtraColumns(std::vector<std::size_t> columns);
    HWND Handle() const { return lv_; }

    // WM_NOTIFY from the list view: the cell texts and the row colours. Nothing for other
    // notifications.
    std::optional<LRESULT> OnNotify(const NMHDR* header);

    std::optional<std::size_t> SelectedRow() const;
    // Where a context menu opens from the keyboard: under the selected row, or at the list's
    // corner; in screen coordinates.
    POINT KeyboardMenuPoint() const;

  private:
    static LRESULT CALLBACK Subclass(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                     UINT_PTR id, DWORD_PTR self);
    LRESULT OnCustomDraw(NMLVCUSTOMDRAW* draw) const;
    void ShareColumns();
    void KeepMinimumWidths();

    DriverList& list_;
    std::function<ShadeOptions()> shading_;
    std::function<void(std::size_t)> rowAppended_;
    HWND lv_ = nullptr;
    std::vector<std::size_t> extra_;
};

}  // namespace tolvessa::win32
