#include "shell/win32/main_window.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shlobj.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "inventory/file_queries.h"
#include "platform/win32/win32_handles.h"
#include "platform/win32/win32_shell.h"
#include "report/report_file.h"
#include "shell/log_mode.h"
#include "shell/win32/drawing.h"
#include "shell/win32/resource_ids.h"
#include "shell/window_rules.h"
#include "tolvessa_product.h"

namespace tolvessa::win32 {

namespace {

constexpr wchar_t kClassName[] = L"TForm2";
constexpr UINT_PTR kTimer1 = 1;
constexpr UINT kRefreshRequest = WM_APP + 1;
constexpr UINT kColumnDragEnded = WM_APP + 2;

enum ControlId : int { kLv = 100, kButton1, kButton4, kProgressBar1, kStatusBar1 };

enum MenuId : UINT {
    // Main menu mm.
    kOpenChangelog1 = 1001,
    kOpenEULA1,
    kClose1,
    kHighlightSuspiciousModules2,
    kHideMicrosoftDrivers2,
    kHomepage1,
    kAbout1,
    // Context menu pm.
    kShowProperties1 = 1101,
    kOpenContainingFolder1,
    kEntireLine1,
    kImageName1,
    kBaseAddress1,
    kPublisher1,
    kDescription1,
    kMD5hash2,
    kFilename1,
    kPublisher2,
    kMD5Hash1,
    kVerifyFileSignature1,
    kCopyallDriversto1,
    kCopyselectedDriverto1,
    kDeleteonReboot1,
    kDeleteFileonReboot1,
};

// Positions in pm of the items that pmPopup enables (submenus are enabled by position).
enum PmPosition : UINT {
    kPosShowProperties1 = 0,
    kPosOpenContainingFolder1 = 1,
    kPosCopyLine1 = 3,
    kPosSearchonGoogle1 = 5,
    kPosVerifyFileSignature1 = 7,
    kPosCopyallDriversto1 = 9,
    kPosCopyselectedDriverto1 = 10,
};

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
constexpr int kPanel5Width = 198;

const Text kTitle = TOLVESSA_U(TOLVESSA_TITLE);
const Text kHostName = TOLVESSA_U(TOLVESSA_HOST_NAME);

// The clipboard, open for as long as this lives.
class ClipboardLock {
  public:
    explicit ClipboardLock(HWND owner) : open_(::OpenClipboard(owner) != FALSE) {}
    ~ClipboardLock() {
        if (open_)
            ::CloseClipboard();
    }
    ClipboardLock(const ClipboardLock&) = delete;
    ClipboardLock& operator=(const ClipboardLock&) = delete;
    bool Open() const { return open_; }

  private:
    bool open_;
};

struct GlobalFreer {
    void operator()(void* memory) const { ::GlobalFree(memory); }
};
using ScopedGlobal = std::unique_ptr<void, GlobalFreer>;

struct PidlFreer {
    void operator()(ITEMIDLIST* list) const { ::CoTaskMemFree(list); }
};

// The file-system path of a shell special folder (a CSIDL value), or the empty text.
Text GetSpecialFolderPath(int csidl) {
    ITEMIDLIST* raw = nullptr;
    if (::SHGetSpecialFolderLocation(nullptr, csidl, &raw) != S_OK)
        return {};
    std::unique_ptr<ITEMIDLIST, PidlFreer> list(raw);
    wchar_t buffer[MAX_PATH + 1] = {};
    if (!::SHGetPathFromIDListW(list.get(), buffer))
        return {};
    return FromWide(buffer, ::wcsnlen(buffer, MAX_PATH + 1));
}

}  // namespace

TForm2::TForm2(Shell& shell, ModuleTableApi& moduleTable)
    : shell_(shell), moduleTable_(moduleTable) {
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
    if (pm_)
        ::DestroyMenu(pm_);
    for (HGDIOBJ o : {static_cast<HGDIOBJ>(font_), static_cast<HGDIOBJ>(titleFont_),
                      static_cast<HGDIOBJ>(emblem_), static_cast<HGDIOBJ>(facebook_),
                      static_cast<HGDIOBJ>(twitter_)}) {
        if (o)
            ::DeleteObject(o);
    }
}

bool TForm2::Create(HINSTANCE instance, HWND application) {
    instance_ = instance;
    commandUi_ = std::make_unique<Win32CommandUi>(
        application, shell_, [this] { PumpMessages(); }, [this] { return closing_; });
    commandList_ = std::make_unique<DriverListView>(list_, [this] { return SelectedRow(); });
    commands_ = std::make_unique<FileCommands>(CommandPlatform{*commandUi_, commandFiles_, trust_},
                                               *commandList_);
    icon_ = ::LoadIconW(instance, MAKEINTRESOURCEW(IDI_TOLVESSA));
    auto bitmap = [instance](int id) {
        return static_cast<HBITMAP>(
            ::LoadImageW(instance, MAKEINTRESOURCEW(id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    };
    emblem_ = bitmap(IDB_EMBLEM);
    facebook_ = bitmap(IDB_FACEBOOK_HEADER);
    twitter_ = bitmap(IDB_TWITTER_HEADER);

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

    font_ = Tahoma(11);
    titleFont_ = Tahoma(19);
    CreateMenus();

    const DWORD style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
    const DWORD exStyle = WS_EX_APPWINDOW | WS_EX_CONTROLPARENT;
    RECT frame = {0, 0, kClientWidth, kClientHeight};
    ::AdjustWindowRectEx(&frame, style, TRUE, exStyle);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    const int left = (::GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    const int top = (::GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    hwnd_ = ::CreateWindowExW(exStyle, kClassName, Wide(kTitle), style, left, top, width, height,
                              nullptr, mm_, instance, this);
    if (!hwnd_)
        return false;
    // The About window exists, hidden, from here to the end of the program.
    return frmAbout_.Create(instance, hwnd_);
}

void TForm2::Show(int showCommand) {
    FormShow();
    // After the unattended mode the window is up only until the loop reads the close request.
    if (!hwnd_)
        return;
    ::ShowWindow(hwnd_, showCommand);
    ::UpdateWindow(hwnd_);
}

void TForm2::CreateMenus() {
    mm_ = ::CreateMenu();
    HMENU file1 = ::CreatePopupMenu();
    ::AppendMenuW(file1, MF_STRING, kOpenChangelog1, L"Open Changelog");
    ::AppendMenuW(file1, MF_STRING, kOpenEULA1, L"Open EULA");
    ::AppendMenuW(file1, MF_SEPARATOR, 0, nullptr);  // N4
    ::AppendMenuW(file1, MF_STRING, kClose1, L"Exit");
    HMENU options1 = ::CreatePopupMenu();
    ::AppendMenuW(options1, MF_STRING | MF_UNCHECKED, kHighlightSuspiciousModules2,
                  L"Highlight Suspicious Modules");
    ::AppendMenuW(options1, MF_STRING | MF_UNCHECKED, kHideMicrosoftDrivers2,
                  L"Hide Microsoft Drivers");
    HMENU help1 = ::CreatePopupMenu();
    ::AppendMenuW(help1, MF_STRING, kHomepage1, L"Homepage");
    ::AppendMenuW(help1, MF_STRING, kAbout1, L"About");
    ::AppendMenuW(mm_, MF_POPUP, reinterpret_cast<UINT_PTR>(file1), L"Menu");
    ::AppendMenuW(mm_, MF_POPUP, reinterpret_cast<UINT_PTR>(options1), L"Options");
    ::AppendMenuW(mm_, MF_POPUP, reinterpret_cast<UINT_PTR>(help1), L"Help");

    pm_ = ::CreatePopupMenu();
    ::AppendMenuW(pm_, MF_STRING, kShowProperties1, L"Show File Properties");
    ::AppendMenuW(pm_, MF_STRING, kOpenContainingFolder1, L"Open Containing Folder");
    ::AppendMenuW(pm_, MF_SEPARATOR, 0, nullptr);  // N1
    HMENU copyLine1 = ::CreatePopupMenu();
    ::AppendMenuW(copyLine1, MF_STRING, kEntireLine1, L"Entire Line");
    ::AppendMenuW(copyLine1, MF_SEPARATOR, 0, nullptr);  // N2
    ::AppendMenuW(copyLine1, MF_STRING, kImageName1, L"File Name");
    ::AppendMenuW(copyLine1, MF_STRING, kBaseAddress1, L"Address");
    ::AppendMenuW(copyLine1, MF_STRING, kPublisher1, L"Publisher");
    ::AppendMenuW(copyLine1, MF_STRING, kDescription1, L"Description");
    ::AppendMenuW(copyLine1, MF_STRING, kMD5hash2, L"MD5 Hash");
    ::AppendMenuW(pm_, MF_POPUP, reinterpret_cast<UINT_PTR>(copyLine1), L"Copy to Clipboard");
    ::AppendMenuW(pm_, MF_SEPARATOR, 0, nullptr);  // N5
    HMENU searchonGoogle1 = ::CreatePopupMenu();
    ::AppendMenuW(searchonGoogle1, MF_STRING, kFilename1, L"File Name");
    ::AppendMenuW(searchonGoogle1, MF_STRING, kPublisher2, L"Publisher");
    ::AppendMenuW(searchonGoogle1, MF_STRING, kMD5Hash1, L"MD5 Hash");
    ::AppendMenuW(pm_, MF_POPUP, reinterpret_cast<UINT_PTR>(searchonGoogle1), L"Search on Google");
    ::AppendMenuW(pm_, MF_SEPARATOR, 0, nullptr);  // N6
    ::AppendMenuW(pm_, MF_STRING, kVerifyFileSignature1, L"Verify File Signature");
    ::AppendMenuW(pm_, MF_SEPARATOR, 0, nullptr);  // N8
    ::AppendMenuW(pm_, MF_STRING, kCopyallDriversto1, L"Copy All Drivers to...");
    ::AppendMenuW(pm_, MF_STRING, kCopyselectedDriverto1, L"Copy Selected Driver to...");
    ::AppendMenuW(pm_, MF_SEPARATOR, 0, nullptr);  // N3
    ::AppendMenuW(pm_, MF_STRING, kDeleteonReboot1, L"Delete File");
    ::AppendMenuW(pm_, MF_STRING, kDeleteFileonReboot1, L"Delete File on Reboot");
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
            // The least outer size, frame included; nothing else of the structure changes.
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
        case kColumnDragEnded:
            for (std::size_t c = 0; c < kColumnCount; ++c) {
                const int width = ListView_GetColumnWidth(lv_, static_cast<int>(c));
                const int kept = ColumnWidthAfterDrag(c, width);
                if (kept != width)
                    ListView_SetColumnWidth(lv_, static_cast<int>(c), kept);
            }
            return 0;
        case WM_COMMAND:
            OnCommand(LOWORD(wParam));
            return 0;
        case WM_NOTIFY:
            return OnNotify(reinterpret_cast<NMHDR*>(lParam));
        case WM_CONTEXTMENU:
            if (reinterpret_cast<HWND>(wParam) == lv_) {
                OnContextMenu(lParam);
                return 0;
            }
            break;
        case WM_SETCURSOR: {
            POINT p;
            ::GetCursorPos(&p);
            ::ScreenToClient(hwnd_, &p);
            if (LOWORD(lParam) == HTCLIENT && reinterpret_cast<HWND>(wParam) == hwnd_ &&
                (::PtInRect(&facebookRect_, p) || ::PtInRect(&twitterRect_, p))) {
                ::SetCursor(::LoadCursorW(nullptr, IDC_HAND));
                return TRUE;
            }
            break;
        }
        case WM_LBUTTONUP: {
            const POINT p = {static_cast<short>(LOWORD(lParam)),
                             static_cast<short>(HIWORD(lParam))};
            if (::PtInRect(&facebookRect_, p))
                imgFacebookLikeClick();
            if (::PtInRect(&twitterRect_, p))
                imgTweetClick();
            return 0;
        }
        case WM_DESTROY:
            closing_ = true;
            if (refresh_)
                refresh_->Close();
            ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
            hwnd_ = nullptr;
            ::PostQuitMessage(0);
            return 0;
        default:
            break;
    }
    return ::DefWindowProcW(hwnd_, message, wParam, lParam);
}

void TForm2::OnCommand(UINT id) {
    switch (id) {
        case kButton1:
            Button1Click();
            break;
        case kButton4:
            Button4Click();
            break;
        case kOpenChangelog1:
            OpenChangelog1Click();
            break;
        case kOpenEULA1:
            OpenEULA1Click();
            break;
        case kClose1:
            Close1Click();
            break;
        case kHighlightSuspiciousModules2:
            HighlightSuspiciousModules2Click();
            break;
        case kHideMicrosoftDrivers2:
            HideMicrosoftDrivers2Click();
            break;
        case kHomepage1:
            Homepage1Click();
            break;
        case kAbout1:
            About1Click();
            break;
        case kEntireLine1:
            CopyToClipboard(ClipboardItem::kEntireLine);
            break;
        case kImageName1:
            CopyToClipboard(ClipboardItem::kFileName);
            break;
        case kBaseAddress1:
            CopyToClipboard(ClipboardItem::kAddress);
            break;
        case kPublisher1:
            CopyToClipboard(ClipboardItem::kPublisher);
            break;
        case kDescription1:
            CopyToClipboard(ClipboardItem::kDescription);
            break;
        case kMD5hash2:
            CopyToClipboard(ClipboardItem::kMd5Hash);
            break;
        case kVerifyFileSignature1:
            commands_->VerifyFileSignature1Click();
            break;
        case kShowProperties1:
            commands_->ShowProperties1Click();
            break;
        case kOpenContainingFolder1:
            commands_->OpenContainingFolder1Click();
            break;
        case kFilename1:
            commands_->Filename1Click();
            break;
        case kPublisher2:
            commands_->Publisher2Click();
            break;
        case kMD5Hash1:
            commands_->MD5Hash1Click();
            break;
        case kCopyallDriversto1:
            commands_->CopyallDriversto1Click();
            break;
        case kCopyselectedDriverto1:
            commands_->CopyselectedDriverto1Click();
            break;
        case kDeleteonReboot1:
            commands_->DeleteonReboot1Click();
            break;
        case kDeleteFileonReboot1:
            commands_->DeleteFileonReboot1Click();
            break;
        default:
            break;
    }
}

void TForm2::CreateControls() {
    auto child = [this](DWORD exStyle, const wchar_t* cls, const wchar_t* text, DWORD style,
                        int id) {
        HWND h = ::CreateWindowExW(exStyle, cls, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0,
                                   hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                   instance_, nullptr);
        ::SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
        return h;
    };
    // Creation order is the keyboard focus order: "Refresh", "Export", then the list.
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
        column.cx = kColumnRules[c].width;
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
        if (!marquee)
            ::SendMessageW(progressBar1_, PBM_SETMARQUEE, FALSE, 0);
        LONG_PTR style = ::GetWindowLongPtrW(progressBar1_, GWL_STYLE);
        style = marquee ? (style | PBS_MARQUEE) : (style & ~static_cast<LONG_PTR>(PBS_MARQUEE));
        ::SetWindowLongPtrW(progressBar1_, GWL_STYLE, style);
        if (marquee) {
            ::SendMessageW(progressBar1_, PBM_SETMARQUEE, TRUE, 30);
        } else {
            ::SendMessageW(progressBar1_, PBM_SETPOS, 0, 0);
            ::InvalidateRect(progressBar1_, nullptr, TRUE);
        }
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
    const int panel5 = w - kPanel5Width;
    facebookRect_ = {panel5 + 66, 17, panel5 + 66 + 39, 17 + 34};
    twitterRect_ = {panel5 + 116, 17, panel5 + 116 + 39, 17 + 34};
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
    ShareColumns();
    ::InvalidateRect(hwnd_, nullptr, FALSE);
}

void TForm2::ShareColumns() {
    RECT listClient;
    ::GetClientRect(lv_, &listClient);
    std::array<int, kColumnCount> current{};
    for (std::size_t c = 0; c < kColumnCount; ++c) {
        current[c] = ListView_GetColumnWidth(lv_, static_cast<int>(c));
    }
    const auto widths = ShareColumnWidths(listClient.right, current);
    for (std::size_t c = 0; c < kColumnCount; ++c) {
        if (kColumnRules[c].Shared() && widths[c] != current[c]) {
            ListView_SetColumnWidth(lv_, static_cast<int>(c), widths[c]);
        }
    }
}

void TForm2::Paint() {
    PAINTSTRUCT ps;
    HDC dc = ::BeginPaint(hwnd_, &ps);
    RECT client;
    ::GetClientRect(hwnd_, &client);
    RECT header = {0, 0, client.right, kHeaderHeight};
    ::FillRect(dc, &header, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
    DrawBitmap(dc, emblem_, 0, 4);
    DrawBitmap(dc, facebook_, facebookRect_.left, facebookRect_.top);
    DrawBitmap(dc, twitter_, twitterRect_.left, twitterRect_.top);
    RECT bevel = {0, kHeaderHeight, client.right, kHeaderHeight + kBevelHeight};
    ::DrawEdge(dc, &bevel, BDR_SUNKENOUTER, BF_TOP | BF_BOTTOM);
    const HGDIOBJ old = ::SelectObject(dc, titleFont_);
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, ::GetSysColor(COLOR_WINDOWTEXT));
    ::TextOutW(dc, 65, 20, L"Tolvessa", 8);
    ::SelectObject(dc, old);
    ::EndPaint(hwnd_, &ps);
}

LRESULT TForm2::OnNotify(NMHDR* header) {
    if (header->hwndFrom == lv_) {
        if (header->code == LVN_GETDISPINFOW) {
            auto* info = reinterpret_cast<NMLVDISPINFOW*>(header);
            const auto row = static_cast<std::size_t>(info->item.iItem);
            const auto column = static_cast<std::size_t>(info->item.iSubItem);
            if ((info->item.mask & LVIF_TEXT) && row < list_.Count() && column < kColumnCount) {
                lstrcpynW(info->item.pszText, Wide(list_.Row(row)[column]), info->item.cchTextMax);
            }
            return 0;
        }
        if (header->code == NM_CUSTOMDRAW) {
            return OnCustomDraw(reinterpret_cast<NMLVCUSTOMDRAW*>(header));
        }
        return 0;
    }
    if (header->hwndFrom == ListView_GetHeader(lv_) &&
        (header->code == HDN_ENDTRACKW || header->code == HDN_ENDTRACKA)) {
        // The drag has not been applied yet; look at the widths once it has.
        ::PostMessageW(hwnd_, kColumnDragEnded, 0, 0);
    }
    return 0;
}

LRESULT TForm2::OnCustomDraw(NMLVCUSTOMDRAW* draw) {
    switch (draw->nmcd.dwDrawStage) {
        case CDDS_PREPAINT:
            return CDRF_NOTIFYITEMDRAW;
        case CDDS_ITEMPREPAINT: {
            // LvAdvancedCustomDrawItem: the background of a suspicious row; the list paints it.
            const auto index = static_cast<std::size_t>(draw->nmcd.dwItemSpec);
            const DriverRow* row = index < list_.Count() ? &list_.Row(index) : nullptr;
            if (HighlightRow(row, Checked(kHighlightSuspiciousModules2))) {
                draw->clrTextBk = kHighlightColour;
            }
            return CDRF_DODEFAULT;
        }
        default:
            return CDRF_DODEFAULT;
    }
}

void TForm2::OnContextMenu(LPARAM position) {
    POINT p = {static_cast<short>(LOWORD(position)), static_cast<short>(HIWORD(position))};
    if (position == -1) {
        // From the keyboard: at the selected row, or the list's corner.
        RECT r = {};
        const auto selected = SelectedRow();
        if (selected) {
            ListView_GetItemRect(lv_, static_cast<int>(*selected), &r, LVIR_LABEL);
        }
        p = {r.left, r.bottom};
        ::ClientToScreen(lv_, &p);
    }
    pmPopup();
    ::TrackPopupMenu(pm_, TPM_RIGHTBUTTON, p.x, p.y, 0, hwnd_, nullptr);
}

void TForm2::pmPopup() {
    const PopupEnabling e = PopupEnablingFor(SelectedRow().has_value(), list_.Count());
    auto enable = [this](UINT position, bool on) {
        ::EnableMenuItem(pm_, position, MF_BYPOSITION | (on ? MF_ENABLED : MF_GRAYED));
    };
    enable(kPosShowProperties1, e.showFileProperties);
    enable(kPosOpenContainingFolder1, e.openContainingFolder);
    enable(kPosCopyLine1, e.copyToClipboard);
    enable(kPosSearchonGoogle1, e.searchOnGoogle);
    enable(kPosVerifyFileSignature1, e.verifyFileSignature);
    enable(kPosCopyallDriversto1, e.copyAllDrivers);
    enable(kPosCopyselectedDriverto1, e.copySelectedDriver);
}

std::optional<std::size_t> TForm2::SelectedRow() const {
    const int index = ListView_GetNextItem(lv_, -1, LVNI_SELECTED);
    if (index < 0 || static_cast<std::size_t>(index) >= list_.Count())
        return std::nullopt;
    return static_cast<std::size_t>(index);
}

bool TForm2::Checked(UINT item) const {
    return (::GetMenuState(mm_, item, MF_BYCOMMAND) & MF_CHECKED) != 0;
}

void TForm2::ToggleCheck(UINT item) {
    ::CheckMenuItem(mm_, item, MF_BYCOMMAND | (Checked(item) ? MF_UNCHECKED : MF_CHECKED));
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

void TForm2::Button4Click() {
    if (list_.Count() == 0)
        return;
    // The report is put together before the dialog opens: it holds the list as it was now.
    const Text text = JoinReportLines(
        DriverReportLines(list_, kTitle, kHostName, refresh_->StatusText(), ReportStyle::kExport));

    const Text desktop = GetSpecialFolderPath(CSIDL_DESKTOPDIRECTORY);
    wchar_t fileName[32768] = L"KernelDrivers";
    OPENFILENAMEW dialog = {};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = hwnd_;
    dialog.lpstrFilter = L"Log File (*.log)\0*.log\0";
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = fileName;
    dialog.nMaxFile = static_cast<DWORD>(std::size(fileName));
    dialog.lpstrInitialDir = desktop.empty() ? nullptr : Wide(desktop);
    dialog.lpstrTitle = L"Save file as...";
    dialog.lpstrDefExt = L"log";
    // Exactly "the file must exist": no overwrite prompt.
    dialog.Flags = OFN_FILEMUSTEXIST;
    if (!::GetSaveFileNameW(&dialog))
        return;
    WriteReportText(reportFile_, FromWide(fileName), text);
}

void TForm2::HighlightSuspiciousModules2Click() {
    ToggleCheck(kHighlightSuspiciousModules2);
    Button1Click();
}

void TForm2::HideMicrosoftDrivers2Click() {
    ToggleCheck(kHideMicrosoftDrivers2);
    Button1Click();
}

void TForm2::Close1Click() {
    ::PostMessageW(hwnd_, WM_CLOSE, 0, 0);
}

void TForm2::About1Click() {
    frmAbout_.ShowModal(hwnd_);
}

void TForm2::Homepage1Click() {
    shell_.Launch(u"open", TOLVESSA_U(TOLVESSA_HOMEPAGE), u"", SW_SHOWNORMAL);
}

void TForm2::OpenDocument(const Text& name) {
    const Text path = ExecutableFolder() + name;
    if (FileExistsOnDisk(inventory_.Attributes(), path))
        shell_.Launch(u"open", path, u"", SW_SHOW);
}

void TForm2::OpenChangelog1Click() {
    OpenDocument(u"Changelog.txt");
}

void TForm2::OpenEULA1Click() {
    OpenDocument(u"EULA.txt");
}

void TForm2::imgFacebookLikeClick() {
    shell_.Launch(u"open", TOLVESSA_U(TOLVESSA_FACEBOOK), u"", SW_SHOW);
}

void TForm2::imgTweetClick() {
    shell_.Launch(u"open", TOLVESSA_U(TOLVESSA_TWITTER), u"", SW_SHOW);
}

void TForm2::CopyToClipboard(ClipboardItem item) {
    const auto selected = SelectedRow();
    if (!selected)
        return;  // the clipboard keeps its content
    const Text text = ClipboardText(list_.Row(*selected), item);
    ClipboardLock clipboard(hwnd_);
    if (!clipboard.Open() || !::EmptyClipboard())
        return;
    const SIZE_T bytes = (text.size() + 1) * sizeof(wchar_t);
    ScopedGlobal memory(::GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, bytes));
    if (!memory)
        return;
    void* locked = ::GlobalLock(memory.get());
    if (!locked)
        return;
    std::memcpy(locked, text.c_str(), bytes);
    ::GlobalUnlock(memory.get());
    // Once placed, the block belongs to the clipboard.
    if (::SetClipboardData(CF_UNICODETEXT, memory.get()))
        memory.release();
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
    // The "Hide Microsoft Drivers" mark is read afresh for every module; the scan runs to its
    // end, also when the window is being closed meanwhile.
    class WindowScanHost : public ScanHost {
      public:
        explicit WindowScanHost(TForm2& form) : form_(form) {}
        bool HideMicrosoftDrivers() override { return form_.Checked(kHideMicrosoftDrivers2); }
        void PumpMessages() override { form_.PumpMessages(); }

      private:
        TForm2& form_;
    } host(*this);
    return ScanDrivers(list_, inventory_.Platform(moduleTable_), host);
}

}  // namespace tolvessa::win32
