// What the program's two windows have in common: the window procedure that finds the C++ object
// behind a window, a window class of their own, and picture or text links (areas of the client
// area with the hand cursor that open an address or a document when clicked).
#pragma once

#include <windows.h>

#include <functional>
#include <vector>

#include "inventory/text.h"
#include "platform/win32/win32_shell.h"

namespace tolvessa::win32 {

class WindowBase {
  public:
    // Links and documents are launched through `shell`.
    explicit WindowBase(Shell& shell) : shell_(shell) {}
    virtual ~WindowBase();
    WindowBase(const WindowBase&) = delete;
    WindowBase& operator=(const WindowBase&) = delete;

    HWND Handle() const { return hwnd_; }

    // The Facebook and Twitter pictures, which both windows show.
    void imgFacebookLikeClick();
    void imgTweetClick();

  protected:
    // Registers the window class `name`, whose windows are served by OnMessage().
    static bool RegisterWindowClass(HINSTANCE instance, const wchar_t* name, UINT style,
                                    HICON icon);
    // Creates the window of a class registered above, for this object.
    bool CreateFor(DWORD exStyle, const wchar_t* className, const wchar_t* caption, DWORD style,
                   const RECT& frame, HWND owner, HMENU menu, HINSTANCE instance);

    // The window's messages; what is not handled goes to DefWindowProcW. A derived window
    // destroys its window in its own destructor, while it can still answer.
    virtual LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) = 0;

    // Links, in client coordinates: the hand cursor over them, and their click on a left-button
    // release, are handled before OnMessage sees the message.
    void SetLinks(std::vector<RECT> areas, std::vector<std::function<void()>> clicks);
    void MoveLink(std::size_t index, const RECT& area);

    // Asks the shell to "open" a web address, ignoring the outcome.
    void OpenAddress(const Text& address, int showCommand);
    // Opens a document that accompanies the program in its folder, when it is there; nothing
    // otherwise.
    void OpenDocument(const Text& name);

    HWND hwnd_ = nullptr;
    Shell& shell_;

  private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    // WM_SETCURSOR: the hand over a link. True when the cursor was set.
    bool SetLinkCursor(WPARAM wParam, LPARAM lParam) const;
    // WM_LBUTTONUP: runs the click of the link under the point. True when there was one.
    bool ClickLink(LPARAM lParam) const;

    std::vector<RECT> linkAreas_;
    std::vector<std::function<void()>> linkClicks_;
};

}  // namespace tolvessa::win32
