#include "shell/win32/about_window.h"

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

const wchar_t* const kLabel1 = L"" TOLVESSA_TITLE;
const wchar_t* const kLabel7 = L"Version " TOLVESSA_VERSION_DOTTED " (" TOLVESSA_RELEASE_DATE ")";
const wchar_t* const kLabel2 = L"" TOLVESSA_COPYRIGHT;
const wchar_t* const kLabel3 = L"" TOLVESSA_HOST_NAME;
const wchar_t* const kLabel4 = L"End User License Agreement";

}  // namespace

TFrmAbout::~TFrmAbout() {
    if (hwnd_)
        ::DestroyWindow(hwnd_);
}

bool TFrmAbout::Create(HINSTANCE instance, HWND owner) {
    // The title bar shows the program's icon, as the main window's does.
    if (!RegisterWindowClass(instance, kClassName, 0,
                             ::LoadIconW(instance, MAKEINTRESOURCEW(IDI_TOLVESSA))))
        return false;

    font_ = Tahoma(11, true, false);
    titleFont_ = Tahoma(13, true, false);
    linkFont_ = Tahoma(11, true, true);
    maker_ = LoadBitmapResource(instance, IDB_MAKER);
    facebook_ = LoadBitmapResource(instance, IDB_FACEBOOK_ABOUT);
    twitter_ = LoadBitmapResource(instance, IDB_TWITTER_ABOUT);

    // A single fixed border (caption and thin frame, no dialog frame); only the system menu and
    // the close button in the title bar.
    const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU;
    const DWORD exStyle = 0;
    RECT frame = {0, 0, kClientWidth, kClientHeight};
    ::AdjustWindowRectEx(&frame, style, FALSE, exStyle);
    if (!CreateFor(exStyle, kClassName, L"About", style,
                   {0, 0, frame.right - frame.left, frame.bottom - frame.top}, owner, nullptr,
                   instance))
        return false;
    MeasureLinks();
    return true;
}

void TFrmAbout::MeasureLinks() {
    SIZE label3 = {};
    SIZE label4 = {};
    {
        ScopedWindowDC dc(hwnd_);
        ScopedSelection font(dc.get(), linkFont_.get());
        ::GetTextExtentPoint32W(dc.get(), kLabel3, lstrlenW(kLabel3), &label3);
        ::GetTextExtentPoint32W(dc.get(), kLabel4, lstrlenW(kLabel4), &label4);
    }
    SetLinks({RECT{42, 166, 42 + label3.cx, 166 + label3.cy},
              RECT{42, 193, 42 + label4.cx, 193 + label4.cy}, RECT{42, 228, 42 + 39, 228 + 32},
              RECT{93, 228, 93 + 39, 228 + 32}},
             {[this] { Label3Click(); }, [this] { Label4Click(); },
              [this] { imgFacebookLikeClick(); }, [this] { imgTweetClick(); }});
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

LRESULT TFrmAbout::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_PAINT:
            Paint();
            return 0;
        case WM_CLOSE:
            // Closing only hides the window, keeping it for the next showing.
            shown_ = false;
            return 0;
        default:
            break;
    }
    return ::DefWindowProcW(hwnd_, message, wParam, lParam);
}

void TFrmAbout::Paint() {
    ScopedPaint paint(hwnd_);
    HDC dc = paint.get();
    RECT client;
    ::GetClientRect(hwnd_, &client);
    RECT band = {0, 0, client.right, kBandHeight};
    ::FillRect(dc, &band, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
    DrawBitmap(dc, maker_.get(), 42, 16, 154, 31);
    RECT bevel = {0, kBandHeight, client.right, kBandHeight + 2};
    ::DrawEdge(dc, &bevel, BDR_SUNKENOUTER, BF_TOP | BF_BOTTOM);

    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, ::GetSysColor(COLOR_WINDOWTEXT));
    {
        ScopedSelection font(dc, titleFont_.get());
        ::TextOutW(dc, 42, 80, kLabel1, lstrlenW(kLabel1));
    }
    {
        ScopedSelection font(dc, font_.get());
        ::TextOutW(dc, 42, 111, kLabel7, lstrlenW(kLabel7));
        ::TextOutW(dc, 42, 139, kLabel2, lstrlenW(kLabel2));
    }
    {
        ScopedSelection font(dc, linkFont_.get());
        ::SetTextColor(dc, kNavy);
        ::TextOutW(dc, 42, 166, kLabel3, lstrlenW(kLabel3));
        ::TextOutW(dc, 42, 193, kLabel4, lstrlenW(kLabel4));
    }
    DrawBitmap(dc, facebook_.get(), 42, 228, 39, 32);
    DrawBitmap(dc, twitter_.get(), 93, 228, 39, 32);
}

void TFrmAbout::Label3Click() {
    OpenAddress(TOLVESSA_U(TOLVESSA_HOMEPAGE), SW_SHOW);
}

void TFrmAbout::Label4Click() {
    OpenDocument(u"EULA.txt");
}

}  // namespace tolvessa::win32
