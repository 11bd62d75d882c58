// The main window (TForm2 of the unit uListMods): the driver list with its menus, refresh cycle,
// highlighting, export and clipboard commands, and the unattended log mode that runs when the
// window is first shown. The window keeps its controls and handlers; its menus (main_menus),
// the command of each id (main_commands), the places of its controls (shell/main_layout), the
// unattended run (unattended_run), the digest workers (window_digests) and the vulnerable-driver
// lists (list_files) are made in files of their own.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <memory>
#include <optional>

#include "commands/file_commands.h"
#include "inventory/driver_scan.h"
#include "platform/win32/cng_hash.h"
#include "platform/win32/win32_file_commands.h"
#include "platform/win32/win32_handles.h"
#include "platform/win32/win32_inventory.h"
#include "platform/win32/win32_report_file.h"
#include "platform/win32/win32_shell.h"
#include "platform/win32/win32_trust_api.h"
#include "report/driver_report.h"
#include "shell/cmd_line.h"
#include "shell/digest_pool.h"
#include "shell/log_mode.h"
#include "shell/refresh_cycle.h"
#include "shell/win32/about_window.h"
#include "shell/win32/list_adapter.h"
#include "shell/win32/window_base.h"
#include "trust/vulnerable_lists.h"

namespace tolvessa::win32 {

class TForm2 : public WindowBase {
  public:
    // Launches go to `shell`; every scan takes its snapshot from `moduleTable` (the kernel's
    // table, Win32ModuleTable, in the product).
    TForm2(Shell& shell, ModuleTableApi& moduleTable);
    ~TForm2() override;

    // Creates the window, hidden (FormCreate runs inside), then the hidden About window.
    // `application` is the program's own hidden top-level window, which owns the folder picker.
    bool Create(HINSTANCE instance, HWND application);
    // Runs FormShow, then displays the window.
    void Show(int showCommand);
    // The process exit code: that of the unattended run, 0 for an interactive one.
    int ExitCode() const { return exitCode_; }

    // Handlers.
    void FormCreate();
    void FormShow();
    void Timer1Timer();
    void Button1Click();
    void Button4Click();
    void HighlightSuspiciousModules2Click();
    void HideMicrosoftDrivers2Click();
    void ShowHashesandSignatures2Click();
    void LoadVulnerableDriverList1Click();
    void Sha256CopyClick();
    void PeSha256CopyClick();
    void pmPopup();
    void Close1Click();
    void About1Click();
    void Homepage1Click();
    void OpenChangelog1Click();
    void OpenEULA1Click();
    void CopyToClipboard(ClipboardItem item);  // EntireLine1Click ... MD5hash2Click

  private:
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void CreateControls();
    void Layout();
    void Paint();
    void EraseBackground(HDC dc);
    void OnContextMenu(LPARAM position);
    std::optional<std::size_t> SelectedRow() const;
    bool Checked(UINT item) const;
    void ToggleCheck(UINT item);
    // Handles every window message already waiting, without waiting for more.
    void PumpMessages();
    ScanResult Scan();
    // True while a scan fills the list, and for the whole unattended run.
    bool ScanUnderWay() const;
    // Carries out a close request that came while a scan was under way, once none is.
    void CloseIfDeferred();
    // A row joined the list: its digests are asked of the workers when their columns show.
    void RowAppended(std::size_t row);
    // Puts the results the workers have ready into their rows.
    void TakeDigests();
    // Works out everything of every row the exports carry, and waits for it.
    void CompleteRows();
    // What the workers are asked for the rows of the list, by the Options marks and the lists.
    FactsWanted WantedFacts() const;
    bool ListLoaded() const;
    // Loads a vulnerable-driver list; a failure is told in a message when `tellFailure`.
    ListLoadResult LoadList(const Text& fileName, bool tellFailure);
    // The columns after the ten, by the Options marks and the lists.
    void ShowExtraColumns();

    ModuleTableApi& moduleTable_;
    HINSTANCE instance_ = nullptr;
    HWND progressBar1_ = nullptr;
    HWND button1_ = nullptr;
    HWND button4_ = nullptr;
    HWND statusBar1_ = nullptr;
    HMENU mm_ = nullptr;         // destroyed with the window
    HMENU copyLine1_ = nullptr;  // pm's "Copy to Clipboard", destroyed with pm
    ScopedMenu pm_;
    ScopedFont font_;
    ScopedFont titleFont_;
    HICON icon_ = nullptr;
    ScopedBitmap emblem_;
    ScopedBitmap facebook_;
    ScopedBitmap twitter_;

    DriverList list_;
    DriverListAdapter lv_;
    std::unique_ptr<RefreshCycle> refresh_;
    TFrmAbout frmAbout_;
    Win32Inventory inventory_;
    Win32ReportFile reportFile_;
    Win32CommandFiles commandFiles_;
    Win32TrustApi trust_;
    VulnerableLists lists_;
    Win32FileContent digestContent_;
    CngHashApi hashes_;
    // Declared last of the members the workers use, so it ends first.
    std::unique_ptr<DigestPool> digests_;
    std::unique_ptr<Win32CommandUi> commandUi_;
    std::unique_ptr<DriverListView> commandList_;
    std::unique_ptr<FileCommands> commands_;
    bool closing_ = false;
    bool logRun_ = false;
    bool closeDeferred_ = false;
    int exitCode_ = 0;
    SYSTEMTIME listTaken_ = {};  // when the last scan began, UTC
};

}  // namespace tolvessa::win32
