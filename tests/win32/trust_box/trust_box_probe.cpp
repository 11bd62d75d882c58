// Runs "Verify File Signature" with the real message boxes on the path given (or with no row
// selected for "--no-selection") and reports, from a second thread, what the box shows: its
// text, icon, owner, topmost style and whether it came to the foreground. The box is left for
// the test driver to close through the X server (tests/e2e/trust_box_e2e.py).
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>

#include "commands/file_commands.h"
#include "platform/win32/win32_file_commands.h"
#include "platform/win32/win32_handles.h"
#include "platform/win32/win32_shell.h"
#include "platform/win32/win32_trust_api.h"
#include "tolvessa_product.h"

namespace {

using tolvessa::Text;
using tolvessa::win32::FromWide;

constexpr int kTextId = 0xFFFF;               // the box's text control
constexpr int kIconIds[] = {0x0014, 0x0440};  // the icon control: Windows, Wine

struct Search {
    DWORD process;
    HWND found;
};

BOOL CALLBACK FindBox(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<Search*>(param);
    DWORD process = 0;
    ::GetWindowThreadProcessId(window, &process);
    wchar_t caption[128] = {};
    ::GetWindowTextW(window, caption, 128);
    if (process == search->process && ::IsWindowVisible(window) &&
        FromWide(caption) == TOLVESSA_U(TOLVESSA_TITLE)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

const char* IconKind(HWND box) {
    const HICON warning = ::LoadIconW(nullptr, IDI_WARNING);
    const HICON information = ::LoadIconW(nullptr, IDI_INFORMATION);
    for (const int id : kIconIds) {
        if (!::GetDlgItem(box, id))
            continue;
        const auto icon =
            reinterpret_cast<HICON>(::SendDlgItemMessageW(box, id, STM_GETICON, 0, 0));
        if (icon == warning)
            return "warning";
        if (icon == information)
            return "information";
        return "other";
    }
    return "none";
}

// Waits for the box and prints one line about it.
void Watch(std::atomic<bool>& done) {
    Search search{::GetCurrentProcessId(), nullptr};
    while (!done && !search.found) {
        ::EnumWindows(FindBox, reinterpret_cast<LPARAM>(&search));
        if (!search.found)
            ::Sleep(50);
    }
    if (!search.found)
        return;
    ::Sleep(300);  // the box takes the foreground once it is shown
    wchar_t text[512] = {};
    ::GetDlgItemTextW(search.found, kTextId, text, 512);
    const bool topmost = (::GetWindowLongW(search.found, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
    const bool owned = ::GetWindow(search.found, GW_OWNER) != nullptr;
    const bool foreground = ::GetForegroundWindow() == search.found;
    std::printf("box text=[%s] icon=%s topmost=%d owned=%d foreground=%d\n",
                tolvessa::TextToUtf8(FromWide(text)).c_str(), IconKind(search.found), topmost,
                owned, foreground);
    std::fflush(stdout);
}

// The list of one row, selected, or of none.
class OneRow : public tolvessa::CommandList {
  public:
    explicit OneRow(std::optional<Text> path) : path_(std::move(path)) {}
    std::optional<Text> SelectedCell(tolvessa::DriverColumn) override { return path_; }
    std::size_t RowCount() override { return path_ ? 1 : 0; }
    std::optional<Text> Cell(std::size_t, tolvessa::DriverColumn) override { return path_; }

  private:
    std::optional<Text> path_;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: tolvessa_trust_box <path> | --no-selection\n");
        return 2;
    }
    const Text arg = FromWide(argv[1]);
    std::optional<Text> selected;
    if (arg != u"--no-selection")
        selected = arg;

    std::atomic<bool> done{false};
    std::thread watcher(Watch, std::ref(done));
    tolvessa::win32::Win32Shell shell;
    tolvessa::win32::Win32CommandUi ui(nullptr, shell, [] {});
    tolvessa::win32::Win32CommandFiles files;
    tolvessa::win32::Win32TrustApi trust;
    OneRow list(selected);
    tolvessa::FileCommands({ui, files, trust}, list).VerifyFileSignature1Click();
    done = true;
    watcher.join();
    std::printf("done\n");
    return 0;
}
