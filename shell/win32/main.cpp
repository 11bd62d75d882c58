// Tolvessa.exe: start-up, the message loop, and the end of the program.
#include <commctrl.h>
#include <windows.h>

#include "platform/win32/win32_inventory.h"
#include "shell/win32/main_window.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
    // Every privilege the (elevated) token holds, before any window exists.
    tolvessa::win32::EnableAllPrivileges();

    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES |
                                                          ICC_PROGRESS_CLASS |
                                                          ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);

    tolvessa::win32::TForm2 form2;
    if (!form2.Create(instance))
        return 0;
    form2.Show(showCommand);

    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (form2.Handle() && ::IsDialogMessageW(form2.Handle(), &msg))
            continue;
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    // The exit code is always 0: the unattended mode reports nothing through it.
    return 0;
}
