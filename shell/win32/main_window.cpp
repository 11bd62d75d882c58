#include "shell/win32/main_window.h"

#include <commctrl.h>

#include <array>

#include "platform/win32/win32_handles.h"
#include "report/report_file.h"
#include "shell/log_mode.h"
#include "shell/product.h"
#include "shell/win32/resource_ids.h"

namespace tolvessa::win32 {

namespace {

constexpr wchar_t kClassName[] = L"TForm2";
constexpr UINT_PTR kTimer1 = 1;
constexpr UINT kRefreshRequest = WM_APP + 1;

enum ControlId : int { kLv = 100, kButton1, kButton4, kProgressBar1, kStatusBar1 };

// Sizes at 96 dots per inch.
constexpr int kClientWidth = 918;
constexpr int kClientHeight = 453;
constexpr int kMinWidth = 900;
constexpr int kMinHeight = 300;
constexpr int kHeaderHeight = 65;
constexpr int kBevelHeight = 2;
constexpr int kSpacer = 10;
constexpr int kStatusHeight = 19;
constexpr int kButtonPanelHeight = 55;
constexpr int kProgressPanelHeight = 22;

struct ColumnSpec {
    int width;
    int minWidth;  // 0: a fixed column
};
constexpr std::array<ColumnSpec, kColumnCount> kColumns = {{{80, 0},
                                                            {265, 265},
                                                            {115, 0},
                                                            {115, 0},
                                                            {150, 150},
                                                            {150, 150},
                                                            {100, 0},
                                                            {150, 150},
                                                            {80, 0},
                                                            {80, 0}}};

const Text kTitle = TOLVESSA_U(TOLVESSA_TITLE);
const Text kHostName = TOLVESSA_U(TOLVESSA_HOST_NAME);

}  // namespace

TForm2::TForm2() {
    cmdLine_.commandLine = [] { return reinterpret_cast<const char16_t*>(::GetCommandLineW()); };
    cmdLine_.charNext = [](const char16_t* p) {
        return reinterpret_cast<const char16_t*>(::CharNextW(reinterpret_cast<const wchar_t*>(p)));
    };
    cmdLine_.modulePath = [] {
        wchar_t buffer[MAX_PATH + 1] = {};
        const DWORD n = ::GetModuleFileNameW(nullptr, buffer, MAX_PATH + 1);
        return FromWide(buffer, std::min<DWORD>(n, MAX_PATH + 1));
    };
}

TForm2::~TForm2() {
    if (hwnd_)
        ::DestroyWindow(hwnd_);
    if (font_)
        ::DeleteObject(font_);
    if (titleFont_)
        ::DeleteObject(titleFont_);
}

bool TForm2::Create(HINSTANCE instance) {
    instance_ = instance;
    icon_ = ::LoadIconW(instance, MAKEINTRESOURCEW(IDI_TOLVESSA));

    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = &TForm2::WindowProc;
    wc.hInstance = instance;
    wc.hIcon = icon_;
    wc.hIconSm = icon_;
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = ::GetSysColorBrush(COLOR_BTNFACE);
    wc.lpszClassName = kClassName;
    if (!::RegisterClassExW(&wc))
        return false;

    font_ = ::CreateFontW(-11, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                          OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                          DEFAULT_PITCH | FF_DONTCARE, L"Tahoma");
    titleFont_ = ::CreateFontW(-19, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                               OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                               DEFAULT_PITCH | FF_DONTCARE, L"Tahoma");

    const DWORD style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
    const DWORD exStyle = WS_EX_APPWINDOW | WS_EX_CONTROLPARENT;
    RECT frame = {0, 0, kClientWidth, kClientHeight};
    ::AdjustWindowRectEx(&frame, style, FALSE, exStyle);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    const int left = (::GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    const int top = (::GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    hwnd_ = ::CreateWindowExW(exStyle, kClassName, Wide(kTitle), style, left, top, width, height,
                              nullptr, nullptr, instance, this);
    return hwnd_ != nullptr;
}

void TForm2::Show(int showCommand) {
    FormShow();
    // After the unattended mode the window is up only until the loop reads the close request.
    if (!hwnd_)
        return;
    ::ShowWindow(hwnd_, showCommand);
    ::UpdateWindow(hwnd_);
}

LRESULT CALLBACK TForm2::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    TForm2* self = nullptr;
    if (message == WM_NCCREATE) {
        self = static_cast<TForm2*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->hwnd_ = hwnd;
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    } else {
        self = reinterpret_cast<TForm2*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    }
    return self ? self->Handle(message, wParam, lParam)
                : ::DefWindowProcW(hwnd, message, wParam, lParam);
}

LRESULT TForm2::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            CreateControls();
            FormCreate();
            return 0;
        case WM_SIZE:
            Layout();
            return 0;
        case WM_PAINT:
            Paint();
            return 0;
        case WM_GETMINMAXINFO: {
            auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
            info->ptMinTrackSize = {kMinWidth, kMinHeight};
            return 0;
        }
        case WM_TIMER:
            if (wParam == kTimer1)
                Timer1Timer();
            return 0;
        case kRefreshRequest:
            Button1Click();
            return 0;
        case WM_COMMAND:
            if (LOWORD(wParam) == kButton1 && HIWORD(wParam) == BN_CLICKED)
                Button1Click();
            return 0;
        case WM_NOTIFY:
            return OnNotify(reinterpret_cast<NMHDR*>(lParam));
        case WM_DESTROY:
            closing_ = true;
            if (refresh_)
                refresh_->Close();
            ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
            hwnd_ = nullptr;
            ::PostQuitMessage(0);
            return 0;
        default:
            return ::DefWindowProcW(hwnd_, message, wParam, lParam);
    }
}

void TForm2::CreateControls() {
    // Creation order is the keyboard focus order: "Refresh", "Export", then the list.
    auto child = [this](DWORD exStyle, const wchar_t* cls, const wchar_t* text, DWORD style,
                        int id) {
        HWND h = ::CreateWindowExW(exStyle, cls, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0,
                                   hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                   instance_, nullptr);
        ::SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
        return h;
    };
    button1_ = child(0, WC_BUTTONW, L"Refresh", WS_TABSTOP | BS_PUSHBUTTON, kButton1);
    button4_ = child(0, WC_BUTTONW, L"Export", WS_TABSTOP | BS_PUSHBUTTON | WS_DISABLED, kButton4);
    lv_ = child(WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"",
                WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_OWNERDATA | LVS_NOSORTHEADER, kLv);
    ListView_SetExtendedListViewStyle(
        lv_, LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER | LVS_EX_FLATSB);
    for (std::size_t c = 0; c < kColumnCount; ++c) {
        Text caption(kColumnCaptions[c]);
        LVCOLUMNW column = {};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
        column.fmt = LVCFMT_LEFT;
        column.cx = kColumns[c].width;
        column.pszText = reinterpret_cast<wchar_t*>(caption.data());
        ListView_InsertColumn(lv_, static_cast<int>(c), &column);
    }
    progressBar1_ = child(0, PROGRESS_CLASSW, L"", PBS_SMOOTH, kProgressBar1);
    ::SendMessageW(progressBar1_, PBM_SETRANGE32, 0, 100);
    statusBar1_ = child(0, STATUSCLASSNAMEW, L"", 0, kStatusBar1);
    ::SendMessageW(statusBar1_, SB_SIMPLE, TRUE, 0);

    list_.SetListener({[this](std::size_t) {
                           ListView_SetItemCountEx(lv_, static_cast<int>(list_.Count()),
                                                   LVSICF_NOINVALIDATEALL | LVSICF_NOSCROLL);
                       },
                       [this] {
                           // One update bracket: the list is repainted once, empty.
                           ::SendMessageW(lv_, WM_SETREDRAW, FALSE, 0);
                           ListView_SetItemCountEx(lv_, 0, 0);
                           ::SendMessageW(lv_, WM_SETREDRAW, TRUE, 0);
                           ::InvalidateRect(lv_, nullptr, TRUE);
                       }});

    RefreshView view;
    view.setButtons = [this](bool refreshEnabled, bool exportEnabled) {
        ::EnableWindow(button1_, refreshEnabled);
        ::EnableWindow(button4_, exportEnabled);
    };
    view.setMarquee = [this](bool marquee) {
        LONG_PTR style = ::GetWindowLongPtrW(progressBar1_, GWL_STYLE);
        style = marquee ? (style | PBS_MARQUEE) : (style & ~static_cast<LONG_PTR>(PBS_MARQUEE));
        ::SetWindowLongPtrW(progressBar1_, GWL_STYLE, style);
        ::SendMessageW(progressBar1_, PBM_SETMARQUEE, marquee, 30);
        if (!marquee)
            ::SendMessageW(progressBar1_, PBM_SETPOS, 0, 0);
    };
    view.setStatus = [this](const Text& status) {
        ::SendMessageW(statusBar1_, SB_SETTEXTW, SB_SIMPLEID,
                       reinterpret_cast<LPARAM>(Wide(status)));
    };
    view.postRefresh = [this] { ::PostMessageW(hwnd_, kRefreshRequest, 0, 0); };
    refresh_ = std::make_unique<RefreshCycle>(list_, std::move(view),
                                              [this](DriverList&) { return Scan(); });
}

void TForm2::Layout() {
    RECT client;
    ::GetClientRect(hwnd_, &client);
    const int w = client.right;
    const int h = client.bottom;
    header_ = {0, 0, w, kHeaderHeight};
    ::SendMessageW(statusBar1_, WM_SIZE, 0, 0);
    ::MoveWindow(statusBar1_, 0, h - kStatusHeight, w, kStatusHeight, TRUE);
    const int buttonsTop = h - kStatusHeight - kButtonPanelHeight;
    ::MoveWindow(button1_, 9, buttonsTop + 13, 130, 26, TRUE);
    ::MoveWindow(button4_, 156, buttonsTop + 13, 140, 26, TRUE);
    const int progressTop = buttonsTop - kProgressPanelHeight;
    ::MoveWindow(progressBar1_, kSpacer, progressTop, std::max(0, w - 2 * kSpacer),
                 kProgressPanelHeight, TRUE);
    const int listTop = kHeaderHeight + kBevelHeight + kSpacer;
    const int listBottom = progressTop - kSpacer;
    ::MoveWindow(lv_, kSpacer, listTop, std::max(0, w - 2 * kSpacer),
                 std::max(0, listBottom - listTop), TRUE);
}

void TForm2::Paint() {
    PAINTSTRUCT ps;
    HDC dc = ::BeginPaint(hwnd_, &ps);
    ::FillRect(dc, &header_, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
    if (icon_)
        ::DrawIconEx(dc, 4, 8, icon_, 48, 48, 0, nullptr, DI_NORMAL);
    RECT bevel = {0, kHeaderHeight, header_.right, kHeaderHeight + kBevelHeight};
    ::DrawEdge(dc, &bevel, BDR_SUNKENOUTER, BF_TOP | BF_BOTTOM);
    const HGDIOBJ old = ::SelectObject(dc, titleFont_);
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, ::GetSysColor(COLOR_WINDOWTEXT));
    ::TextOutW(dc, 65, 20, L"Tolvessa", 8);
    ::SelectObject(dc, old);
    ::EndPaint(hwnd_, &ps);
}

LRESULT TForm2::OnNotify(NMHDR* header) {
    if (header->hwndFrom == lv_ && header->code == LVN_GETDISPINFOW) {
        auto* info = reinterpret_cast<NMLVDISPINFOW*>(header);
        const auto row = static_cast<std::size_t>(info->item.iItem);
        const auto column = static_cast<std::size_t>(info->item.iSubItem);
        if ((info->item.mask & LVIF_TEXT) && row < list_.Count() && column < kColumnCount) {
            const Text& cell = list_.Row(row)[column];
            lstrcpynW(info->item.pszText, Wide(cell), info->item.cchTextMax);
        }
        return 0;
    }
    return 0;
}

void TForm2::FormCreate() {
    const Text caption =
        kTitle + u" v" + TOLVESSA_U(TOLVESSA_VERSION_TEXT) + u" [" + kHostName + u"]";
    ::SetWindowTextW(hwnd_, Wide(caption));
    ::SetTimer(hwnd_, kTimer1, 1, nullptr);
}

void TForm2::FormShow() {
    LogModeActions actions;
    actions.argCount = [this] { return CmdLineArgCount(cmdLine_); };
    actions.arg = [this](int index) { return CmdLineArg(cmdLine_, index); };
    actions.scan = [this] { Scan(); };
    actions.writeReport = [this](const Text& fileName) {
        WriteDriverReport(reportFile_, fileName, list_, kTitle, kHostName, refresh_->StatusText());
    };
    actions.pause = [](unsigned milliseconds) { ::Sleep(milliseconds); };
    bool closeAsked = false;
    actions.close = [this, &closeAsked] {
        // A refresh that fell due during the unattended scan is dropped with the window.
        refresh_->Close();
        closeAsked = true;
    };
    RunLogMode(actions);
    // The close requests are read by the message loop, after the last round: a later "-log"
    // still scans and writes in full.
    if (closeAsked && hwnd_)
        ::PostMessageW(hwnd_, WM_CLOSE, 0, 0);
}

void TForm2::Timer1Timer() {
    ::KillTimer(hwnd_, kTimer1);
    Button1Click();
}

void TForm2::Button1Click() {
    refresh_->Run();
}

void TForm2::Close1Click() {
    ::PostMessageW(hwnd_, WM_CLOSE, 0, 0);
}

void TForm2::PumpMessages() {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            // Leave the quit request for the message loop, and let the scan end.
            ::PostQuitMessage(static_cast<int>(msg.wParam));
            closing_ = true;
            return;
        }
        if (hwnd_ && ::IsDialogMessageW(hwnd_, &msg))
            continue;
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
}

ScanResult TForm2::Scan() {
    ScanOperations ops =
        inventory_.Operations([this] { return hideMicrosoftDrivers_; }, [this] { PumpMessages(); });
    ops.stopRequested = [this] { return closing_; };
    return ScanDrivers(list_, ops);
}

}  // namespace tolvessa::win32
