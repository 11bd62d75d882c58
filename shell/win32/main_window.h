// The main window (TForm2 of the unit uListMods): the driver list with its menus, refresh cycle,
// highlighting, export and clipboard commands, and the unattended log mode that runs when the
// window is first shown.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <memory>
#include <optional>

#include "commands/file_commands.h"
#include "inventory/driver_scan.h"
#include "platform/win32/win32_file_commands.h"
#include "platform/win32/win32_inventory.h"
#include "platform/win32/win32_report_file.h"
#include "platform/win32/win32_shell.h"
#include "platform/win32/win32_trust.h"
#include "report/driver_report.h"
#include "shell/cmd_line.h"
#include "shell/refresh_cycle.h"
#include "shell/win32/about_window.h"

namespace tolvessa::win32 {

class TForm2 {
  public:
    // Launches go to `shell`; every scan takes its snapshot from `moduleTable` (the kernel's
    // table, Win32ModuleTable, in the product).
    TForm2(Shell& shell, ModuleTableApi& moduleTable);
    ~TForm2();
    TForm2(const TForm2&) = delete;
    TForm2& operator=(const TForm2&) = delete;

    // Creates the window, hidden (FormCreate runs inside), then the hidden About window.
    // `application` is the program's own hidden top-level window, which owns the folder picker.
    bool Create(HINSTANCE instance, HWND application);
    // Runs FormShow, then displays the window.
    void Show(int showCommand);
    HWND Handle() const { return hwnd_; }

    // Handlers.
    void FormCreate();
    void FormShow();
    void Timer1Timer();
    void Button1Click();
    void Button4Click();
    void HighlightSuspiciousModules2Click();
    void HideMicrosoftDrivers2Click();
    void pmPopup();
    void Close1Click();
    void About1Click();
    void Homepage1Click();
    void OpenChangelog1Click();
    void OpenEULA1Click();
    void imgFacebookLikeClick();
    void imgTweetClick();
    void CopyToClipboard(ClipboardItem item);  // EntireLine1Click ... MD5hash2Click

  private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
    void CreateControls();
    void CreateMenus();
    void Layout();
    void ShareColumns();
    void Paint();
    void OnCommand(UINT id);
    LRESULT OnNotify(NMHDR* header);
    LRESULT OnCustomDraw(NMLVCUSTOMDRAW* draw);
    void OnContextMenu(LPARAM position);
    void OpenDocument(const Text& name);
    std::optional<std::size_t> SelectedRow() const;
    bool Checked(UINT item) const;
    void ToggleCheck(UINT item);
    // Handles every window message already waiting, without waiting for more.
    void PumpMessages();
    ScanResult Scan();

    Shell& shell_;
    ModuleTableApi& moduleTable_;
    HINSTANCE instance_ = nullptr;
    HWND hwnd_ = nullptr;
    HWND lv_ = nullptr;
    HWND progressBar1_ = nullptr;
    HWND button1_ = nullptr;
    HWND button4_ = nullptr;
    HWND statusBar1_ = nullptr;
    HMENU mm_ = nullptr;
    HMENU pm_ = nullptr;
    HFONT font_ = nullptr;
    HFONT titleFont_ = nullptr;
    HICON icon_ = nullptr;
    HBITMAP emblem_ = nullptr;
    HBITMAP facebook_ = nullptr;
    HBITMAP twitter_ = nullptr;
    RECT facebookRect_ = {};
    RECT twitterRect_ = {};

    DriverList list_;
    std::unique_ptr<RefreshCycle> refresh_;
    TFrmAbout frmAbout_{shell_};
    Win32Inventory inventory_;
    Win32ReportFile reportFile_;
    Win32CommandFiles commandFiles_;
    Win32TrustApi trust_;
    std::unique_ptr<Win32CommandUi> commandUi_;
    std::unique_ptr<DriverListView> commandList_;
    std::unique_ptr<FileCommands> commands_;
    CmdLinePlatform cmdLine_;
    bool closing_ = false;
};

}  // namespace tolvessa::win32
