// The About window (TFrmAbout of the unit uFrmAbout): created hidden at start-up, shown modally
// over the main window, hidden again when closed.
#pragma once

#include <windows.h>

#include "platform/win32/win32_handles.h"
#include "shell/win32/window_base.h"

namespace tolvessa::win32 {

class TFrmAbout : public WindowBase {
  public:
    // Its links are launched through `shell`.
    explicit TFrmAbout(Shell& shell) : WindowBase(shell) {}
    ~TFrmAbout() override;

    bool Create(HINSTANCE instance, HWND owner);
    // Centres the window over `over` (kept on the desktop), shows it and returns once it is
    // closed; `over` takes no input meanwhile.
    void ShowModal(HWND over);

    void Label3Click();
    void Label4Click();

  private:
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void Paint();
    void MeasureLinks();

    ScopedFont font_;       // Tahoma 8 pt bold
    ScopedFont titleFont_;  // Tahoma 10 pt bold
    ScopedFont linkFont_;   // Tahoma 8 pt bold underlined
    ScopedBitmap maker_;
    ScopedBitmap facebook_;
    ScopedBitmap twitter_;
    bool shown_ = false;
};

}  // namespace tolvessa::win32
