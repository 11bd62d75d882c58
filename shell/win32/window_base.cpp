#include "shell/win32/window_base.h"

#include "inventory/file_queries.h"
#include "platform/win32/win32_inventory.h"
#include "tolvessa_product.h"

namespace tolvessa::win32 {

WindowBase::~WindowBase() {
    // The derived window is gone already: its last messages go to the default procedure.
    if (hwnd_) {
        ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
        ::DestroyWindow(hwnd_);
    }
}

bool WindowBase::RegisterWindowClass(HINSTANCE instance, const wchar_t* name, UINT style,
                                     HICON icon) {
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    wc.style = style;
    wc.lpfnWndProc = &WindowBase::WindowProc;
    wc.hInstance = instance;
    wc.hIcon = icon;
    wc.hIconSm = icon;
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = ::GetSysColorBrush(COLOR_BTNFACE);
    wc.lpszClassName = name;
    return ::RegisterClassExW(&wc) != 0;
}

bool WindowBase::CreateFor(DWORD exStyle, const wchar_t* className, const wchar_t* caption,
                           DWORD style, const RECT& frame, HWND owner, HMENU menu,
                           HINSTANCE instance) {
    ::CreateWindowExW(exStyle, className, caption, style, frame.left, frame.top,
                      frame.right - frame.left, frame.bottom - frame.top, owner, menu, instance,
                      this);
    return hwnd_ != nullptr;
}

LRESULT CALLBACK WindowBase::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    WindowBase* self = nullptr;
    if (message == WM_NCCREATE) {
        self = static_cast<WindowBase*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->hwnd_ = hwnd;
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    } else {
        self = reinterpret_cast<WindowBase*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    }
    if (!self)
        return ::DefWindowProcW(hwnd, message, wParam, lParam);
    if (message == WM_SETCURSOR && self->SetLinkCursor(wParam, lParam))
        return TRUE;
    if (message == WM_LBUTTONUP && self->ClickLink(lParam))
        return 0;
    const LRESULT result = self->OnMessage(message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        // The window is gone: the object no longer answers for it.
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        self->hwnd_ = nullptr;
    }
    return result;
}

void WindowBase::SetLinks(std::vector<RECT> areas, std::vector<std::function<void()>> clicks) {
    linkAreas_ = std::move(areas);
    linkClicks_ = std::move(clicks);
}

void WindowBase::MoveLink(std::size_t index, const RECT& area) {
    if (index < linkAreas_.size())
        linkAreas_[index] = area;
}

bool WindowBase::SetLinkCursor(WPARAM wParam, LPARAM lParam) const {
    if (LOWORD(lParam) != HTCLIENT || reinterpret_cast<HWND>(wParam) != hwnd_)
        return false;
    POINT p;
    ::GetCursorPos(&p);
    ::ScreenToClient(hwnd_, &p);
    for (const RECT& area : linkAreas_) {
        if (::PtInRect(&area, p)) {
            ::SetCursor(::LoadCursorW(nullptr, IDC_HAND));
            return true;
        }
    }
    return false;
}

bool WindowBase::ClickLink(LPARAM lParam) const {
    const POINT p = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
    for (std::size_t i = 0; i < linkAreas_.size() && i < linkClicks_.size(); ++i) {
        if (::PtInRect(&linkAreas_[i], p)) {
            linkClicks_[i]();
            return true;
        }
    }
    return false;
}

void WindowBase::imgFacebookLikeClick() {
    OpenAddress(TOLVESSA_U(TOLVESSA_FACEBOOK), SW_SHOW);
}

void WindowBase::imgTweetClick() {
    OpenAddress(TOLVESSA_U(TOLVESSA_TWITTER), SW_SHOW);
}

void WindowBase::OpenAddress(const Text& address, int showCommand) {
    shell_.Launch(u"open", address, u"", showCommand);
}

void WindowBase::OpenDocument(const Text& name) {
    const Text path = ExecutableFolder() + name;
    Win32FileAttributes attributes;
    if (FileExistsOnDisk(attributes, path))
        shell_.Launch(u"open", path, u"", SW_SHOW);
}

}  // namespace tolvessa::win32
