// The main window (TForm2 of the unit uListMods): the driver list, its refresh cycle and the
// unattended log mode that runs when the window is first shown.
#pragma once

#include <windows.h>

#include <memory>

#include "inventory/driver_scan.h"
#include "platform/win32/win32_inventory.h"
#include "platform/win32/win32_report_file.h"
#include "shell/cmd_line.h"
#include "shell/refresh_cycle.h"

namespace tolvessa::win32 {

class TForm2 {
public:
    TForm2();
    ~TForm2();
    TForm2(const TForm2&) = delete;
    TForm2& operator=(const TForm2&) = delete;

    // Creates the window, hidden (FormCreate runs inside).
    bool Create(HINSTANCE instance);
    // Runs FormShow, then displays the window.
    void Show(int showCommand);
    HWND Handle() const { return hwnd_; }

    // Handlers.
    void FormCreate();
    void FormShow();
    void Timer1Timer();
    void Button1Click();
    void Close1Click();

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
    void CreateControls();
    void Layout();
    void Paint();
    LRESULT OnNotify(NMHDR* header);
    // Handles every window message already waiting, without waiting for more.
    void PumpMessages();
    ScanResult Scan();

    HINSTANCE instance_ = nullptr;
    HWND hwnd_ = nullptr;
    HWND lv_ = nullptr;
    HWND progressBar1_ = nullptr;
    HWND button1_ = nullptr;
    HWND button4_ = nullptr;
    HWND statusBar1_ = nullptr;
    HFONT font_ = nullptr;
    HFONT titleFont_ = nullptr;
    HICON icon_ = nullptr;
    RECT header_ = {};

    DriverList list_;
    std::unique_ptr<RefreshCycle> refresh_;
    Win32Inventory inventory_;
    Win32ReportFile reportFile_;
    CmdLinePlatform cmdLine_;
    bool hideMicrosoftDrivers_ = false;
    bool closing_ = false;
};

}  // namespace tolvessa::win32
