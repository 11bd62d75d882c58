#include "shell/win32/main_window.h"

#include <commctrl.h>

#include <algorithm>
#include <optional>
#include <string>
#include <utility>

#include "shell/file_facts.h"
#include "shell/log_mode.h"
#include "shell/main_layout.h"
#include "shell/win32/clipboard.h"
#include "shell/win32/drawing.h"
#include "shell/win32/export.h"
#include "shell/win32/list_files.h"
#include "shell/win32/main_commands.h"
#include "shell/win32/main_menus.h"
#include "shell/win32/resource_ids.h"
#include "shell/win32/unattended_run.h"
#include "shell/win32/window_digests.h"
#include "shell/window_rules.h"
#include "tolvessa_product.h"

namespace tolvessa::win32 {

namespace {

constexpr wchar_t kClassName[] = L"TForm2";
constexpr UINT_PTR kTimer1 = 1;
constexpr UINT kRefreshRequest = WM_APP + 1;
// A digest worker has results for the list.
constexpr UINT kDigestsReady = WM_APP + 3;

enum HeaderLink : std::size_t { kLinkFacebook, kLinkTweet };

RECT AsRect(const WindowRect& r) {
    return {r.left, r.top, r.right, r.bottom};
}

// Moves and sizes a child control, repainting it.
void Place(HWND control, const WindowRect& r) {
    ::MoveWindow(control, r.left, r.top, r.Width(), r.Height(), TRUE);
}

const Text kTitle = TOLVESSA_U(TOLVESSA_TITLE);
const Text kHostName = TOLVESSA_U(TOLVESSA_HOST_NAME);

}  // namespace

TForm2::TForm2(Shell& shell, ModuleTableApi& moduleTable)
    : WindowBase(shell),
      moduleTable_(moduleTable),
      lv_(list_,
          [this] {
              return ShadeOptions{Checked(kHighlightSuspiciousModules2),
                                  Checked(kShowHashesandSignatures2), ListLoaded()};
          }),
      frmAbout_(shell) {}

TForm2::~TForm2() {
    if (hwnd_)
        ::DestroyWindow(hwnd_);
}

bool TForm2::Create(HINSTANCE instance, HWND application) {
    instance_ = instance;
    commandUi_ = std::make_unique<Win32CommandUi>(
        application, shell_, [this] { PumpMessages(); }, [this] { return closing_; });
    commandList_ = std::make_unique<DriverListView>(list_, [this] { return SelectedRow(); });
    commands_ = std::make_unique<FileCommands>(CommandPlatform{*commandUi_, commandFiles_, trust_},
                                               *commandList_);
    icon_ = ::LoadIconW(instance, MAKEINTRESOURCEW(IDI_TOLVESSA));
    emblem_ = LoadBitmapResource(instance, IDB_EMBLEM);
    facebook_ = LoadBitmapResource(instance, IDB_FACEBOOK_HEADER);
    twitter_ = LoadBitmapResource(instance, IDB_TWITTER_HEADER);
    SetLinks({RECT{}, RECT{}}, {[this] { imgFacebookLikeClick(); }, [this] { imgTweetClick(); }});

    if (!RegisterWindowClass(instance, kClassName, CS_HREDRAW | CS_VREDRAW, icon_))
        return false;

    font_ = Tahoma(11);
    titleFont_ = Tahoma(19);
    mm_ = CreateMainMenu();
    pm_ = CreateListMenu(copyLine1_);

    const DWORD style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
    const DWORD exStyle = WS_EX_APPWINDOW | WS_EX_CONTROLPARENT;
    RECT frame = {0, 0, kMainClientWidth, kMainClientHeight};
    ::AdjustWindowRectEx(&frame, style, TRUE, exStyle);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    const int left = (::GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    const int top = (::GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    if (!CreateFor(exStyle, kClassName, Wide(kTitle), style,
                   {left, top, left + width, top + height}, nullptr, mm_, instance))
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

LRESULT TForm2::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            CreateControls();
            FormCreate();
            return 0;
        case WM_SIZE:
            Layout();
            return 0;
        case WM_ERASEBKGND:
            EraseBackground(reinterpret_cast<HDC>(wParam));
            return 1;
        case WM_PAINT:
            Paint();
            return 0;
        case WM_GETMINMAXINFO: {
            // The least outer size, frame included; nothing else of the structure changes.
            auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
            info->ptMinTrackSize = {kMainMinWidth, kMainMinHeight};
            return 0;
        }
        case WM_TIMER:
            if (wParam == kTimer1)
                Timer1Timer();
            return 0;
        case kRefreshRequest:
            Button1Click();
            return 0;
        case kDigestsReady:
            TakeDigests();
            return 0;
        case WM_COMMAND:
            RunMainCommand(*this, *commands_, LOWORD(wParam));
            return 0;
        case WM_NOTIFY:
            return lv_.OnNotify(reinterpret_cast<NMHDR*>(lParam)).value_or(0);
        case WM_CONTEXTMENU:
            if (reinterpret_cast<HWND>(wParam) == lv_.Handle()) {
                OnContextMenu(lParam);
                return 0;
            }
            break;
        case WM_CLOSE:
            // A scan always runs to its end: a close asked for meanwhile waits for it.
            if (ScanUnderWay()) {
                closeDeferred_ = true;
                return 0;
            }
            break;
        case WM_DESTROY:
            closing_ = true;
            // The workers end before the window does; what they still had is dropped.
            digests_.reset();
            if (refresh_)
                refresh_->Close();
            ::PostQuitMessage(0);
            return 0;
        default:
            break;
    }
    return ::DefWindowProcW(hwnd_, message, wParam, lParam);
}

void TForm2::CreateControls() {
    auto child = [this](const wchar_t* cls, const wchar_t* text, DWORD style, int id) {
        HWND h = ::CreateWindowExW(0, cls, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, hwnd_,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance_,
                                   nullptr);
        ::SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
        return h;
    };
    // Creation order is the keyboard focus order: "Refresh", "Export", then the list.
    button1_ = child(WC_BUTTONW, L"Refresh", WS_TABSTOP | BS_PUSHBUTTON, kButton1);
    button4_ = child(WC_BUTTONW, L"Export", WS_TABSTOP | BS_PUSHBUTTON | WS_DISABLED, kButton4);
    lv_.Create(hwnd_, instance_, kLv, font_.get(), [this](std::size_t row) { RowAppended(row); });
    progressBar1_ = child(PROGRESS_CLASSW, L"", PBS_SMOOTH, kProgressBar1);
    ::SendMessageW(progressBar1_, PBM_SETRANGE32, 0, 100);
    statusBar1_ = child(STATUSCLASSNAMEW, L"", 0, kStatusBar1);
    ::SendMessageW(statusBar1_, SB_SIMPLE, TRUE, 0);

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
    view.beforeClear = [this] {
        if (digests_)
            digests_->Cancel();
    };
    digests_ = StartWindowDigests(hwnd_, kDigestsReady, digestContent_, hashes_);
    refresh_ = std::make_unique<RefreshCycle>(list_, std::move(view),
                                              [this](DriverList&) { return Scan(); });
}

void TForm2::Layout() {
    RECT client;
    ::GetClientRect(hwnd_, &client);
    const MainWindowLayout layout = LayOutMainWindow(client.right, client.bottom);
    MoveLink(kLinkFacebook, AsRect(layout.facebook));
    MoveLink(kLinkTweet, AsRect(layout.tweet));
    Place(statusBar1_, layout.statusBar1);
    Place(button1_, layout.button1);
    Place(button4_, layout.button4);
    Place(progressBar1_, layout.progressBar1);
    // The list shares its columns itself whenever its client width changes.
    Place(lv_.Handle(), layout.list);
    ::InvalidateRect(hwnd_, nullptr, FALSE);
}

void TForm2::EraseBackground(HDC dc) {
    // The header band and its rule are painted whole by Paint: erasing them first would flicker.
    RECT client;
    ::GetClientRect(hwnd_, &client);
    RECT below = {0, kHeaderHeight + kBevelHeight, client.right, client.bottom};
    ::FillRect(dc, &below, ::GetSysColorBrush(COLOR_BTNFACE));
}

void TForm2::Paint() {
    ScopedPaint paint(hwnd_);
    RECT client;
    ::GetClientRect(hwnd_, &client);
    // The header band is drawn off screen and copied in one go.
    BufferedPaint buffer(paint.get(), {0, 0, client.right, kHeaderHeight + kBevelHeight});
    HDC dc = buffer.get();
    RECT header = {0, 0, client.right, kHeaderHeight};
    ::FillRect(dc, &header, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
    DrawBitmap(dc, emblem_.get(), 0, 4);
    const MainWindowLayout layout = LayOutMainWindow(client.right, client.bottom);
    const WindowRect& facebook = layout.facebook;
    const WindowRect& tweet = layout.tweet;
    DrawBitmap(dc, facebook_.get(), facebook.left, facebook.top);
    DrawBitmap(dc, twitter_.get(), tweet.left, tweet.top);
    RECT bevel = {0, kHeaderHeight, client.right, kHeaderHeight + kBevelHeight};
    ::FillRect(dc, &bevel, ::GetSysColorBrush(COLOR_BTNFACE));
    ::DrawEdge(dc, &bevel, BDR_SUNKENOUTER, BF_TOP | BF_BOTTOM);
    ScopedSelection font(dc, titleFont_.get());
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, ::GetSysColor(COLOR_WINDOWTEXT));
    ::TextOutW(dc, 65, 20, L"Tolvessa", 8);
}

void TForm2::OnContextMenu(LPARAM position) {
    // From the keyboard (-1): at the selected row, or the list's corner.
    const POINT p = position == -1 ? lv_.KeyboardMenuPoint()
                                   : POINT{static_cast<short>(LOWORD(position)),
                                           static_cast<short>(HIWORD(position))};
    pmPopup();
    ::TrackPopupMenu(pm_.get(), TPM_RIGHTBUTTON, p.x, p.y, 0, hwnd_, nullptr);
}

void TForm2::pmPopup() {
    EnableListMenu(pm_.get(), PopupEnablingFor(SelectedRow().has_value(), list_.Count()));
}

std::optional<std::size_t> TForm2::SelectedRow() const {
    return lv_.SelectedRow();
}

bool TForm2::Checked(UINT item) const {
    return MenuChecked(mm_, item);
}

void TForm2::ToggleCheck(UINT item) {
    ToggleMenuCheck(mm_, item);
}

void TForm2::FormCreate() {
    const Text caption =
        kTitle + u" v" + TOLVESSA_U(TOLVESSA_VERSION_TEXT) + u" [" + kHostName + u"]";
    ::SetWindowTextW(hwnd_, Wide(caption));
    ::SetTimer(hwnd_, kTimer1, 1, nullptr);
}

void TForm2::FormShow() {
    LogModeActions actions;
    actions.scan = [this] { return Scan() == ScanResult::kCompleted; };
    actions.loadList = [this](const Text& fileName, bool unattended) {
        return LoadList(fileName, !unattended);
    };
    actions.completeRows = [this] { CompleteRows(); };
    bool closeAsked = false;
    actions.close = [this, &closeAsked] {
        // A refresh that fell due during the unattended scan is dropped with the window.
        refresh_->Close();
        closeAsked = true;
    };
    logRun_ = true;
    const LogModeOutcome outcome =
        RunUnattended(std::move(actions),
                      {reportFile_, list_, [this] { return refresh_->StatusText(); }, listTaken_});
    logRun_ = false;
    // Lists loaded from the command line or beside the program: their column from the start.
    ShowExtraColumns();
    exitCode_ = outcome.ExitCode();
    // The close requests are read by the message loop, after the last round: a later "-log"
    // still scans and writes in full. One that reached the window during the run is carried out
    // now.
    if ((closeAsked || closeDeferred_) && hwnd_) {
        closeDeferred_ = false;
        ::PostMessageW(hwnd_, WM_CLOSE, 0, 0);
    }
}

void TForm2::Timer1Timer() {
    ::KillTimer(hwnd_, kTimer1);
    Button1Click();
}

void TForm2::Button1Click() {
    refresh_->Run();
    CloseIfDeferred();
}

bool TForm2::ScanUnderWay() const {
    return logRun_ || list_.Scanning();
}

void TForm2::CloseIfDeferred() {
    if (closeDeferred_ && hwnd_ && !ScanUnderWay()) {
        closeDeferred_ = false;
        ::SendMessageW(hwnd_, WM_CLOSE, 0, 0);
    }
}

void TForm2::Button4Click() {
    ExportDriverList(hwnd_, reportFile_, list_, refresh_->StatusText(), listTaken_);
}

void TForm2::HighlightSuspiciousModules2Click() {
    ToggleCheck(kHighlightSuspiciousModules2);
    Button1Click();
}

void TForm2::HideMicrosoftDrivers2Click() {
    ToggleCheck(kHideMicrosoftDrivers2);
    Button1Click();
}

void TForm2::ShowHashesandSignatures2Click() {
    ToggleCheck(kShowHashesandSignatures2);
    const bool on = Checked(kShowHashesandSignatures2);
    ShowExtraColumns();
    // The copy items of the digests are there only with their columns.
    ShowDigestCopyItems(copyLine1_, on);
    Button1Click();
}

void TForm2::Sha256CopyClick() {
    if (const auto selected = SelectedRow())
        PutClipboardText(hwnd_, DigestText(list_.Digests(*selected).sha256));
}

void TForm2::PeSha256CopyClick() {
    if (const auto selected = SelectedRow())
        PutClipboardText(hwnd_, DigestText(list_.Digests(*selected).peSha256));
}

void TForm2::LoadVulnerableDriverList1Click() {
    const std::optional<Text> fileName = AskForListFile(hwnd_);
    if (!fileName || LoadList(*fileName, true) == ListLoadResult::kUnread)
        return;
    ShowExtraColumns();
    Button1Click();
}

bool TForm2::ListLoaded() const {
    return lists_.Count() > 0;
}

ListLoadResult TForm2::LoadList(const Text& fileName, bool tellFailure) {
    return LoadListTelling(hwnd_, kTitle, lists_, digestContent_, fileName, tellFailure);
}

void TForm2::ShowExtraColumns() {
    lv_.ShowExtraColumns(ShownExtraColumns(Checked(kShowHashesandSignatures2), ListLoaded()));
}

FactsWanted TForm2::WantedFacts() const {
    return {Checked(kShowHashesandSignatures2), ListLoaded()};
}

void TForm2::RowAppended(std::size_t row) {
    // Digests are worked out only while their columns are shown or a list may match them; a
    // file that is not there has none.
    const FactsWanted wanted = WantedFacts();
    if (!digests_ || (!wanted.verdict && !wanted.identity) || !list_.FileExists(row))
        return;
    digests_->Submit(row, list_.Row(row)[kImageName], wanted);
}

void TForm2::TakeDigests() {
    if (!digests_)
        return;
    ApplyResults(list_, digests_->TakeResults(), lists_);
}

void TForm2::CompleteRows() {
    if (!digests_)
        return;
    // Every file of the list, with everything the exports carry, whatever the Options marks;
    // what was asked while the rows came in is asked again in full.
    digests_->Cancel();
    for (std::size_t row = 0; row < list_.Count(); ++row) {
        if (list_.FileExists(row))
            digests_->Submit(row, list_.Row(row)[kImageName], FactsWanted{true, true});
    }
    digests_->WaitIdle();
    TakeDigests();
}

void TForm2::Close1Click() {
    ::PostMessageW(hwnd_, WM_CLOSE, 0, 0);
}

void TForm2::About1Click() {
    frmAbout_.ShowModal(hwnd_);
}

void TForm2::Homepage1Click() {
    OpenAddress(TOLVESSA_U(TOLVESSA_HOMEPAGE), SW_SHOWNORMAL);
}

void TForm2::OpenChangelog1Click() {
    OpenDocument(u"Changelog.txt");
}

void TForm2::OpenEULA1Click() {
    OpenDocument(u"EULA.txt");
}

void TForm2::CopyToClipboard(ClipboardItem item) {
    const auto selected = SelectedRow();
    if (!selected)
        return;  // the clipboard keeps its content
    PutClipboardText(hwnd_, ClipboardText(list_.Row(*selected), item));
}

void TForm2::PumpMessages() {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            // Leave the quit request for the message loop; a scan still runs to its end, while
            // a copy of all drivers stops.
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
    ::GetSystemTime(&listTaken_);
    return ScanDrivers(list_, inventory_.Platform(moduleTable_), host);
}

}  // namespace tolvessa::win32
