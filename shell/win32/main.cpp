// The Windows program: the hand-over to the 64-bit program, start-up, the message loop, and the
// end of the program.
#include <windows.h>

#include <commctrl.h>

#include "platform/win32/win32_inventory.h"
#include "shell/win32/main_window.h"
#include "shell/win32/win32_process.h"
#include "tolvessa_product.h"
#ifdef TOLVESSA_TEST_SEAMS
#include "shell/win32/test_seams.h"
#endif

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
#ifdef TOLVESSA_TEST_SEAMS
    tolvessa::win32::TestSeams seams;
    tolvessa::HandOverApi& handOver = seams.HandOver();
#else
    tolvessa::win32::Win32HandOver handOver;
#endif
    // A 32-bit run on 64-bit Windows is the 64-bit program's, when that is beside this one: no
    // window of this process shows, and its exit code is the other's.
    {
        tolvessa::win32::Win32CmdLine cmdLine;
        if (const auto exitCode = tolvessa::HandOver(handOver, cmdLine))
            return static_cast<int>(*exitCode);
    }

    // Every privilege the (elevated) token holds, before any window exists.
    tolvessa::win32::EnableAllPrivileges();

    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES |
                                                          ICC_PROGRESS_CLASS |
                                                          ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);

    // The application's own window: hidden, never shown, titled like the program; it owns the
    // folder picker, so the main window stays usable while the picker is open.
    WNDCLASSEXW application = {};
    application.cbSize = sizeof application;
    application.lpfnWndProc = ::DefWindowProcW;
    application.hInstance = instance;
    application.lpszClassName = L"TApplication";
    ::RegisterClassExW(&application);
    const HWND applicationWindow =
        ::CreateWindowExW(WS_EX_TOOLWINDOW, L"TApplication", L"" TOLVESSA_TITLE, WS_POPUP, 0, 0, 0,
                          0, nullptr, nullptr, instance, nullptr);

#ifdef TOLVESSA_TEST_SEAMS
    tolvessa::win32::TForm2 form2(seams.TheShell(), seams.ModuleTable());
#else
    tolvessa::win32::Win32Shell shell;
    tolvessa::win32::Win32ModuleTable moduleTable;
    tolvessa::win32::TForm2 form2(shell, moduleTable);
#endif
    if (!form2.Create(instance, applicationWindow))
        return 0;
    form2.Show(showCommand);

    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (form2.Handle() && ::IsDialogMessageW(form2.Handle(), &msg))
            continue;
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    if (applicationWindow)
        ::DestroyWindow(applicationWindow);
    // 0 for an interactive run; an unattended one tells whether every report was written.
    return form2.ExitCode();
}
