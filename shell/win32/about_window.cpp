#include "shell/win32/about_window.h"

#include "inventory/file_queries.h"
#include "platform/win32/win32_handles.h"
#include "platform/win32/win32_inventory.h"
#include "platform/win32/win32_shell.h"
#include "shell/win32/drawing.h"
#include "shell/win32/resource_ids.h"
#include "shell/window_rules.h"
#include "tolvessa_product.h"

namespace tolvessa::win32 {

namespace {

constexpr wchar_t kClassName[] = L"TFrmAbout";
constexpr int kClientWidth = 514;
constexpr int kClientHeight = 288;
constexpr int kBandHeight = 53;
constexpr COLORREF kNavy = RGB(0, 0, 128);
enum Link { kLinkLabel3, kLinkLabel4, kLinkFacebook, kLinkTweet };

const wchar_t* const kLabel1 = L"" TOLVESSA_TITLE;
const wchar_t* const kLabel7 = L"Version " TOLVESSA_VERSION_DOTTED " (" TOLVESSA_RELEASE_DATE ")";
const wchar_t* const kLabel2 = L"" TOLVESSA_COPYRIGHT;
const wchar_t* const kLabel3 = L"" TOLVESSA_HOST_NAME;
const wchar_t* const kLabel4 = L"End User License Agreement";

}  // namespace

TFrmAbout::~TFrmAbout() {
    if (hwnd_)
        ::DestroyWindow(hwnd_);
    for (HGDIOBJ o : {static_cast<HGDIOBJ>(font_), static_cast<HGDIOBJ>(titleFont_),
                      static_cast<HGDIOBJ>(linkFont_), static_cast<HGDIOBJ>(maker_),
                      static_cast<HGDIOBJ>(facebook_), static_cast<HGDIOBJ>(twitter_)}) {
        if (o)
            ::DeleteObject(o);
    }
}

bool TFrmAbout::Create(HINSTANCE instance, HWND owner) {
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = &TFrmAbout::WindowProc;
    wc.hInstance = instance;
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = ::GetSysColorBrush(COLOR_BTNFACE);
    wc.lpszClassName = kClassName;
    if (!::RegisterClassExW(&wc))
        return false;

    font_ = Tahoma(11, true, false);
    titleFont_ = Tahoma(13, true, false);
    linkFont_ = Tahoma(11, true, true);
    auto bitmap = [instance](int id) {
        return static_cast<HBITMAP>(
            ::LoadImageW(instance, MAKEINTRESOURCEW(id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    };
    maker_ = bitmap(IDB_MAKER);
    facebook_ = bitmap(IDB_FACEBOOK_ABOUT);
    twitter_ = bitmap(IDB_TWITTER_ABOUT);

    // A single fixed border; only the system menu and the close button in the title bar.
    const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_BORDER;
    const DWORD exStyle = WS_EX_DLGMODALFRAME;
    RECT frame = {0, 0, kClientWidth, kClientHeight};
    ::AdjustWindowRectEx(&frame, style, FALSE, exStyle);
    hwnd_ = ::CreateWindowExW(exStyle, kClassName, L"About", style, 0, 0, frame.right - frame.left,
                              frame.bottom - frame.top, owner, nullptr, instance, this);
    if (!hwnd_)
        return false;
    MeasureLinks();
    return true;
}

void TFrmAbout::MeasureLinks() {
    HDC dc = ::GetDC(hwnd_);
    const HGDIOBJ old = ::SelectObject(dc, linkFont_);
    SIZE size = {};
    ::GetTextExtentPoint32W(dc, kLabel3, lstrlenW(kLabel3), &size);
    links_[kLinkLabel3] = {42, 166, 42 + size.cx, 166 + size.cy};
    ::GetTextExtentPoint32W(dc, kLabel4, lstrlenW(kLabel4), &size);
    links_[kLinkLabel4] = {42, 193, 42 + size.cx, 193 + size.cy};
    ::SelectObject(dc, old);
    ::ReleaseDC(hwnd_, dc);
    links_[kLinkFacebook] = {42, 228, 42 + 39, 228 + 32};
    links_[kLinkTweet] = {93, 228, 93 + 39, 228 + 32};
}

int TFrmAbout::LinkAt(POINT p) const {
    for (int i = 0; i < 4; ++i) {
        if (::PtInRect(&links_[i], p))
            return i;
    }
    return -1;
}

void TFrmAbout::ShowModal(HWND over) {
    RECT main = {};
    ::GetWindowRect(over, &main);
    RECT about = {};
    ::GetWindowRect(hwnd_, &about);
    const WindowRect desktop{
        ::GetSystemMetrics(SM_XVIRTUALSCREEN), ::GetSystemMetrics(SM_YVIRTUALSCREEN),
        ::GetSystemMetrics(SM_XVIRTUALSCREEN) + ::GetSystemMetrics(SM_CXVIRTUALSCREEN),
        ::GetSystemMetrics(SM_YVIRTUALSCREEN) + ::GetSystemMetrics(SM_CYVIRTUALSCREEN)};
    const WindowPoint place =
        AboutWindowPlace({main.left, main.top, main.right, main.bottom}, about.right - about.left,
                         about.bottom - about.top, desktop);
    ::SetWindowPos(hwnd_, nullptr, place.x, place.y, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);

    ::EnableWindow(over, FALSE);
    shown_ = true;
    ::ShowWindow(hwnd_, SW_SHOW);
    MSG msg;
    while (shown_) {
        const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
        if (got <= 0) {
            // The program is ending: leave the quit request for the main loop.
            ::PostQuitMessage(got == 0 ? static_cast<int>(msg.wParam) : 0);
            break;
        }
        if (::IsDialogMessageW(hwnd_, &msg))
            continue;
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    ::EnableWindow(over, TRUE);
    ::ShowWindow(hwnd_, SW_HIDE);
    shown_ = false;
    ::SetActiveWindow(over);
}

LRESULT CALLBACK TFrmAbout::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    TFrmAbout* self = nullptr;
    if (message == WM_NCCREATE) {
        self = static_cast<TFrmAbout*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->hwnd_ = hwnd;
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    } else {
        self = reinterpret_cast<TFrmAbout*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    }
    return self ? self->Handle(message, wParam, lParam)
                : ::DefWindowProcW(hwnd, message, wParam, lParam);
}

LRESULT TFrmAbout::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_PAINT:
            Paint();
            return 0;
        case WM_CLOSE:
            // Closing only hides the window, keeping it for the next showing.
            shown_ = false;
            return 0;
        case WM_SETCURSOR: {
            POINT p;
            ::GetCursorPos(&p);
            ::ScreenToClient(hwnd_, &p);
            if (LOWORD(lParam) == HTCLIENT && LinkAt(p) >= 0) {
                ::SetCursor(::LoadCursorW(nullptr, IDC_HAND));
                return TRUE;
            }
            break;
        }
        case WM_LBUTTONUP: {
            const POINT p = {static_cast<short>(LOWORD(lParam)),
                             static_cast<short>(HIWORD(lParam))};
            switch (LinkAt(p)) {
                case kLinkLabel3:
                    Label3Click();
                    break;
                case kLinkLabel4:
                    Label4Click();
                    break;
                case kLinkFacebook:
                    imgFacebookLikeClick();
                    break;
                case kLinkTweet:
                    imgTweetClick();
                    break;
                default:
                    break;
            }
            return 0;
        }
        case WM_DESTROY:
            ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
            hwnd_ = nullptr;
            return 0;
        default:
            break;
    }
    return ::DefWindowProcW(hwnd_, message, wParam, lParam);
}

void TFrmAbout::Paint() {
    PAINTSTRUCT ps;
    HDC dc = ::BeginPaint(hwnd_, &ps);
    RECT client;
    ::GetClientRect(hwnd_, &client);
    RECT band = {0, 0, client.right, kBandHeight};
    ::FillRect(dc, &band, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
    DrawBitmap(dc, maker_, 42, 16, 154, 31);
    RECT bevel = {0, kBandHeight, client.right, kBandHeight + 2};
    ::DrawEdge(dc, &bevel, BDR_SUNKENOUTER, BF_TOP | BF_BOTTOM);

    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, ::GetSysColor(COLOR_WINDOWTEXT));
    const HGDIOBJ old = ::SelectObject(dc, titleFont_);
    ::TextOutW(dc, 42, 80, kLabel1, lstrlenW(kLabel1));
    ::SelectObject(dc, font_);
    ::TextOutW(dc, 42, 111, kLabel7, lstrlenW(kLabel7));
    ::TextOutW(dc, 42, 139, kLabel2, lstrlenW(kLabel2));
    ::SelectObject(dc, linkFont_);
    ::SetTextColor(dc, kNavy);
    ::TextOutW(dc, 42, 166, kLabel3, lstrlenW(kLabel3));
    ::TextOutW(dc, 42, 193, kLabel4, lstrlenW(kLabel4));
    ::SelectObject(dc, old);
    DrawBitmap(dc, facebook_, 42, 228, 39, 32);
    DrawBitmap(dc, twitter_, 93, 228, 39, 32);
    ::EndPaint(hwnd_, &ps);
}

void TFrmAbout::Label3Click() {
    shell_.Launch(u"open", TOLVESSA_U(TOLVESSA_HOMEPAGE), u"", SW_SHOW);
}

void TFrmAbout::Label4Click() {
    const Text eula = ExecutableFolder() + u"EULA.txt";
    Win32FileAttributes attributes;
    if (FileExistsOnDisk(attributes, eula))
        shell_.Launch(u"open", eula, u"", SW_SHOW);
}

void TFrmAbout::imgFacebookLikeClick() {
    shell_.Launch(u"open", TOLVESSA_U(TOLVESSA_FACEBOOK), u"", SW_SHOW);
}

void TFrmAbout::imgTweetClick() {
    shell_.Launch(u"open", TOLVESSA_U(TOLVESSA_TWITTER), u"", SW_SHOW);
}

}  // namespace tolvessa::win32
