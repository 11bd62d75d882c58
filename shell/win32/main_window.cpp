#include "shell/win32/main_window.h"

#include <commctrl.h>

#include <commdlg.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "platform/win32/win32_signature_engine.h"
#include "report/exports.h"
#include "report/report_file.h"
#include "shell/file_facts.h"
#include "shell/log_mode.h"
#include "shell/win32/clipboard.h"
#include "shell/win32/drawing.h"
#include "shell/win32/export.h"
#include "shell/win32/resource_ids.h"
#include "shell/win32/win32_process.h"
#include "shell/window_rules.h"
#include "tolvessa_product.h"

namespace tolvessa::win32 {

namespace {

constexpr wchar_t kClassName[] = L"TForm2";
constexpr UINT_PTR kTimer1 = 1;
constexpr UINT kRefreshRequest = WM_APP + 1;
// A digest worker has results for the list.
constexpr UINT kDigestsReady = WM_APP + 3;

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
    kShowHashesandSignatures2,
    kLoadVulnerableDriverList1,
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
    kSha256Copy,
    kPeSha256Copy,
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

enum HeaderLink : std::size_t { kLinkFacebook, kLinkTweet };

// The vulnerable-driver lists in the "vulnlists" folder beside the program: its files named
// *.csv or *.xml (in any case), in the order of their names.
std::vector<Text> ListsBesideProgram() {
    const Text executableFolder = ExecutableFolder();
    if (executableFolder.empty())
        return {};
    const std::wstring folder = std::wstring(Wide(executableFolder)) + L"vulnlists\\";
    WIN32_FIND_DATAW found = {};
    const HANDLE first = ::FindFirstFileW((folder + L"*").c_str(), &found);
    std::vector<Text> lists;
    if (first == INVALID_HANDLE_VALUE)
        return lists;
    const ScopedFind find(first);
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        const std::wstring name = found.cFileName;
        if (name.size() < 5)
            continue;
        const std::wstring extension = name.substr(name.size() - 4);
        if (::lstrcmpiW(extension.c_str(), L".csv") != 0 &&
            ::lstrcmpiW(extension.c_str(), L".xml") != 0) {
            continue;
        }
        lists.push_back(FromWide((folder + name).c_str()));
    } while (::FindNextFileW(find.get(), &found));
    std::sort(lists.begin(), lists.end());
    return lists;
}

// A picture of the header's right-hand panel (Panel5), by its left edge inside the panel.
RECT HeaderPicture(int clientWidth, int left) {
    const int x = clientWidth - kPanel5Width + left;
    return {x, 17, x + 39, 17 + 34};
}
constexpr int kFacebookLeft = 66;
constexpr int kTweetLeft = 116;

const Text kTitle = TOLVESSA_U(TOLVESSA_TITLE);
const Text kHostName = TOLVESSA_U(TOLVESSA_HOST_NAME);

// The handler of each menu item and button, by its id.
struct Command {
    UINT id;
    void (*run)(TForm2& form, FileCommands& commands);
};

template <void (TForm2::*Handler)()>
constexpr Command On(UINT id) {
    return {id, [](TForm2& form, FileCommands&) { (form.*Handler)(); }};
}
template <void (FileCommands::*Handler)()>
constexpr Command OnFile(UINT id) {
    return {id, [](TForm2&, FileCommands& commands) { (commands.*Handler)(); }};
}
template <ClipboardItem Item>
constexpr Command OnCopy(UINT id) {
    return {id, [](TForm2& form, FileCommands&) { form.CopyToClipboard(Item); }};
}

constexpr Command kCommands[] = {
    On<&TForm2::Button1Click>(kButton1),
    On<&TForm2::Button4Click>(kButton4),
    On<&TForm2::OpenChangelog1Click>(kOpenChangelog1),
    On<&TForm2::OpenEULA1Click>(kOpenEULA1),
    On<&TForm2::Close1Click>(kClose1),
    On<&TForm2::HighlightSuspiciousModules2Click>(kHighlightSuspiciousModules2),
    On<&TForm2::HideMicrosoftDrivers2Click>(kHideMicrosoftDrivers2),
    On<&TForm2::Homepage1Click>(kHomepage1),
    On<&TForm2::About1Click>(kAbout1),
    On<&TForm2::ShowHashesandSignatures2Click>(kShowHashesandSignatures2),
    On<&TForm2::LoadVulnerableDriverList1Click>(kLoadVulnerableDriverList1),
    On<&TForm2::Sha256CopyClick>(kSha256Copy),
    On<&TForm2::PeSha256CopyClick>(kPeSha256Copy),
    OnCopy<ClipboardItem::kEntireLine>(kEntireLine1),
    OnCopy<ClipboardItem::kFileName>(kImageName1),
    OnCopy<ClipboardItem::kAddress>(kBaseAddress1),
    OnCopy<ClipboardItem::kPublisher>(kPublisher1),
    OnCopy<ClipboardItem::kDescription>(kDescription1),
    OnCopy<ClipboardItem::kMd5Hash>(kMD5hash2),
    OnFile<&FileCommands::VerifyFileSignature1Click>(kVerifyFileSignature1),
    OnFile<&FileCommands::ShowProperties1Click>(kShowProperties1),
    OnFile<&FileCommands::OpenContainingFolder1Click>(kOpenContainingFolder1),
    OnFile<&FileCommands::Filename1Click>(kFilename1),
    OnFile<&FileCommands::Publisher2Click>(kPublisher2),
    OnFile<&FileCommands::MD5Hash1Click>(kMD5Hash1),
    OnFile<&FileCommands::CopyallDriversto1Click>(kCopyallDriversto1),
    OnFile<&FileCommands::CopyselectedDriverto1Click>(kCopyselectedDriverto1),
    OnFile<&FileCommands::DeleteonReboot1Click>(kDeleteonReboot1),
    OnFile<&FileCommands::DeleteFileonReboot1Click>(kDeleteFileonReboot1),
};

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
    CreateMenus();

    const DWORD style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
    const DWORD exStyle = WS_EX_APPWINDOW | WS_EX_CONTROLPARENT;
    RECT frame = {0, 0, kClientWidth, kClientHeight};
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
    ::AppendMenuW(options1, MF_STRING | MF_UNCHECKED, kShowHashesandSignatures2,
                  L"Show Hashes and Signatures");
    ::AppendMenuW(options1, MF_SEPARATOR, 0, nullptr);
    ::AppendMenuW(options1, MF_STRING, kLoadVulnerableDriverList1,
                  L"Load Vulnerable Driver List...");
    HMENU help1 = ::CreatePopupMenu();
    ::AppendMenuW(help1, MF_STRING, kHomepage1, L"Homepage");
    ::AppendMenuW(help1, MF_STRING, kAbout1, L"About");
    ::AppendMenuW(mm_, MF_POPUP, reinterpret_cast<UINT_PTR>(file1), L"Menu");
    ::AppendMenuW(mm_, MF_POPUP, reinterpret_cast<UINT_PTR>(options1), L"Options");
    ::AppendMenuW(mm_, MF_POPUP, reinterpret_cast<UINT_PTR>(help1), L"Help");

    pm_.reset(::CreatePopupMenu());
    HMENU pm = pm_.get();
    ::AppendMenuW(pm, MF_STRING, kShowProperties1, L"Show File Properties");
    ::AppendMenuW(pm, MF_STRING, kOpenContainingFolder1, L"Open Containing Folder");
    ::AppendMenuW(pm, MF_SEPARATOR, 0, nullptr);  // N1
    HMENU copyLine1 = ::CreatePopupMenu();
    copyLine1_ = copyLine1;
    ::AppendMenuW(copyLine1, MF_STRING, kEntireLine1, L"Entire Line");
    ::AppendMenuW(copyLine1, MF_SEPARATOR, 0, nullptr);  // N2
    ::AppendMenuW(copyLine1, MF_STRING, kImageName1, L"File Name");
    ::AppendMenuW(copyLine1, MF_STRING, kBaseAddress1, L"Address");
    ::AppendMenuW(copyLine1, MF_STRING, kPublisher1, L"Publisher");
    ::AppendMenuW(copyLine1, MF_STRING, kDescription1, L"Description");
    ::AppendMenuW(copyLine1, MF_STRING, kMD5hash2, L"MD5 Hash");
    ::AppendMenuW(pm, MF_POPUP, reinterpret_cast<UINT_PTR>(copyLine1), L"Copy to Clipboard");
    ::AppendMenuW(pm, MF_SEPARATOR, 0, nullptr);  // N5
    HMENU searchonGoogle1 = ::CreatePopupMenu();
    ::AppendMenuW(searchonGoogle1, MF_STRING, kFilename1, L"File Name");
    ::AppendMenuW(searchonGoogle1, MF_STRING, kPublisher2, L"Publisher");
    ::AppendMenuW(searchonGoogle1, MF_STRING, kMD5Hash1, L"MD5 Hash");
    ::AppendMenuW(pm, MF_POPUP, reinterpret_cast<UINT_PTR>(searchonGoogle1), L"Search on Google");
    ::AppendMenuW(pm, MF_SEPARATOR, 0, nullptr);  // N6
    ::AppendMenuW(pm, MF_STRING, kVerifyFileSignature1, L"Verify File Signature");
    ::AppendMenuW(pm, MF_SEPARATOR, 0, nullptr);  // N8
    ::AppendMenuW(pm, MF_STRING, kCopyallDriversto1, L"Copy All Drivers to...");
    ::AppendMenuW(pm, MF_STRING, kCopyselectedDriverto1, L"Copy Selected Driver to...");
    ::AppendMenuW(pm, MF_SEPARATOR, 0, nullptr);  // N3
    ::AppendMenuW(pm, MF_STRING, kDeleteonReboot1, L"Delete File");
    ::AppendMenuW(pm, MF_STRING, kDeleteFileonReboot1, L"Delete File on Reboot");
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
        case kDigestsReady:
            TakeDigests();
            return 0;
        case WM_COMMAND:
            OnCommand(LOWORD(wParam));
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

bool TForm2::OnCommand(UINT id) {
    for (const Command& command : kCommands) {
        if (command.id == id) {
            command.run(*this, *commands_);
            return true;
        }
    }
    return false;
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
    const HWND window = hwnd_;
    // Each worker keeps its own signature engine (its own catalog contexts) and version reader;
    // the file reader and the hash engine serve them all.
    digests_ = std::make_unique<DigestPool>(
        DefaultDigestWorkers(),
        [this]() -> DigestPool::Work {
            auto engine = std::make_shared<Win32SignatureEngine>();
            auto versions = std::make_shared<Win32VersionApi>();
            return [this, engine, versions](const Text& path, FactsWanted wanted) {
                return GatherFileFacts(digestContent_, hashes_, *versions, engine.get(), path,
                                       wanted);
            };
        },
        [window] { ::PostMessageW(window, kDigestsReady, 0, 0); });
    refresh_ = std::make_unique<RefreshCycle>(list_, std::move(view),
                                              [this](DriverList&) { return Scan(); });
}

void TForm2::Layout() {
    RECT client;
    ::GetClientRect(hwnd_, &client);
    const int w = client.right;
    const int h = client.bottom;
    MoveLink(kLinkFacebook, HeaderPicture(w, kFacebookLeft));
    MoveLink(kLinkTweet, HeaderPicture(w, kTweetLeft));
    ::MoveWindow(statusBar1_, 0, h - kStatusHeight, w, kStatusHeight, TRUE);
    const int buttonsTop = h - kStatusHeight - kButtonPanelHeight;
    ::MoveWindow(button1_, 9, buttonsTop + 13, 130, 26, TRUE);
    ::MoveWindow(button4_, 156, buttonsTop + 13, 140, 26, TRUE);
    const int progressTop = buttonsTop - kProgressPanelHeight;
    ::MoveWindow(progressBar1_, kSpacer, progressTop, std::max(0, w - 2 * kSpacer),
                 kProgressPanelHeight, TRUE);
    const int listTop = kHeaderHeight + kBevelHeight + kSpacer;
    const int listBottom = progressTop - kSpacer;
    // The list shares its columns itself whenever its client width changes.
    ::MoveWindow(lv_.Handle(), kSpacer, listTop, std::max(0, w - 2 * kSpacer),
                 std::max(0, listBottom - listTop), TRUE);
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
    const RECT facebook = HeaderPicture(client.right, kFacebookLeft);
    const RECT tweet = HeaderPicture(client.right, kTweetLeft);
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
    const PopupEnabling e = PopupEnablingFor(SelectedRow().has_value(), list_.Count());
    auto enable = [this](UINT position, bool on) {
        ::EnableMenuItem(pm_.get(), position, MF_BYPOSITION | (on ? MF_ENABLED : MF_GRAYED));
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
    return lv_.SelectedRow();
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
    Win32CmdLine cmdLine;
    LogModeActions actions;
    actions.argCount = [&cmdLine] { return CmdLineArgCount(cmdLine); };
    actions.arg = [&cmdLine](int index) { return CmdLineArg(cmdLine, index); };
    actions.scan = [this] { return Scan() == ScanResult::kCompleted; };
    actions.writeReport = [this](const Text& fileName) {
        return WriteDriverReport(reportFile_, fileName, list_, kTitle, kHostName,
                                 refresh_->StatusText());
    };
    actions.pause = [](unsigned milliseconds) { ::Sleep(milliseconds); };
    actions.defaultLists = [] { return ListsBesideProgram(); };
    actions.loadList = [this](const Text& fileName, bool unattended) {
        return LoadList(fileName, !unattended);
    };
    actions.completeRows = [this] { CompleteRows(); };
    actions.writeExport = [this](ExportKind kind, const Text& fileName) {
        return WriteExportFile(reportFile_, fileName,
                               ExportText(kind, ModuleRecords(list_), listTaken_));
    };
    actions.anyVulnerable = [this] { return list_.AnyVulnerable(); };
    bool closeAsked = false;
    actions.close = [this, &closeAsked] {
        // A refresh that fell due during the unattended scan is dropped with the window.
        refresh_->Close();
        closeAsked = true;
    };
    logRun_ = true;
    const LogModeOutcome outcome = RunLogMode(actions);
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
    if (on) {
        ::AppendMenuW(copyLine1_, MF_SEPARATOR, 0, nullptr);
        ::AppendMenuW(copyLine1_, MF_STRING, kSha256Copy, L"SHA-256");
        ::AppendMenuW(copyLine1_, MF_STRING, kPeSha256Copy, L"PE SHA-256");
    } else {
        ::DeleteMenu(copyLine1_, kPeSha256Copy, MF_BYCOMMAND);
        ::DeleteMenu(copyLine1_, kSha256Copy, MF_BYCOMMAND);
        ::DeleteMenu(copyLine1_, ::GetMenuItemCount(copyLine1_) - 1, MF_BYPOSITION);
    }
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
    wchar_t fileName[32768] = L"";
    OPENFILENAMEW dialog = {};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = hwnd_;
    dialog.lpstrFilter =
        L"Vulnerable Driver Lists (*.csv;*.xml)\0*.csv;*.xml\0All Files (*.*)\0*.*\0";
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = fileName;
    dialog.nMaxFile = static_cast<DWORD>(std::size(fileName));
    dialog.lpstrTitle = L"Load Vulnerable Driver List";
    dialog.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
    if (!::GetOpenFileNameW(&dialog))
        return;
    if (LoadList(FromWide(fileName), true) == ListLoadResult::kUnread)
        return;
    ShowExtraColumns();
    Button1Click();
}

bool TForm2::ListLoaded() const {
    return lists_.Count() > 0;
}

ListLoadResult TForm2::LoadList(const Text& fileName, bool tellFailure) {
    const ListLoadReport report = LoadListFile(lists_, digestContent_, fileName);
    if (report.error.empty() && report.cutAt.empty())
        return ListLoadResult::kLoaded;
    if (tellFailure) {
        ::MessageBoxW(hwnd_, Wide(ListLoadFailureText(report)), Wide(kTitle),
                      MB_OK | MB_ICONWARNING);
    }
    return report.error.empty() ? ListLoadResult::kCutShort : ListLoadResult::kUnread;
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
