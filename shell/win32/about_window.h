// The About window (TFrmAbout of the unit uFrmAbout): created hidden at start-up, shown modally
// over the main window, hidden again when closed.
#pragma once

#include <windows.h>

#include "inventory/text.h"
#include "platform/win32/win32_shell.h"

namespace tolvessa::win32 {

class TFrmAbout {
  public:
    // Its links are launched through `shell`.
    explicit TFrmAbout(Shell& shell) : shell_(shell) {}
    ~TFrmAbout();
    TFrmAbout(const TFrmAbout&) = delete;
    TFrmAbout& operator=(const TFrmAbout&) = delete;

    bool Create(HINSTANCE instance, HWND owner);
    // Centres the window over `over` (kept on the desktop), shows it and returns once it is
    // closed; `over` takes no input meanwhile.
    void ShowModal(HWND over);
    HWND Handle() const { return hwnd_; }

    void Label3Click();
    void Label4Click();
    void imgFacebookLikeClick();
    void imgTweetClick();

  private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
    void Paint();
    void MeasureLinks();
    int LinkAt(POINT p) const;

    Shell& shell_;
    HWND hwnd_ = nullptr;
    HFONT font_ = nullptr;       // Tahoma 8 pt bold
    HFONT titleFont_ = nullptr;  // Tahoma 10 pt bold
    HFONT linkFont_ = nullptr;   // Tahoma 8 pt bold underlined
    HBITMAP maker_ = nullptr;
    HBITMAP facebook_ = nullptr;
    HBITMAP twitter_ = nullptr;
    RECT links_[4] = {};  // Label3, Label4, imgFacebookLike, imgTweet
    bool shown_ = false;
};

}  // namespace tolvessa::win32
