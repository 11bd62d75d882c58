/* A small Windows console program for the end-to-end tests: reads the state of the running
   program's main window from outside (status text, list rows, selection, menu states), the way
   an accessibility tool would, and prints it as UTF-8.

     probe status | rows | count | selected | box | press CAPTION | command ID | foreground
           | rect CLASS | control CLASS | styles CLASS | columns | size CLASS WIDTH HEIGHT
           | close CLASS | watch */
#include <windows.h>
#include <commctrl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static HWND MainWindow(void) { return FindWindowW(L"TForm2", NULL); }

static HWND Child(HWND parent, const wchar_t* cls) { return FindWindowExW(parent, NULL, cls, NULL); }

static void PrintWide(const wchar_t* text) {
    char utf8[8192];
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, NULL, NULL);
    if (n > 0) fwrite(utf8, 1, (size_t)n - 1, stdout);
}

/* Memory in the other process, for messages that carry pointers. */
typedef struct {
    HANDLE process;
    void* remote;
} Remote;

static int OpenRemote(HWND window, SIZE_T size, Remote* r) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    r->process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (!r->process) return 0;
    r->remote = VirtualAllocEx(r->process, NULL, size, MEM_COMMIT, PAGE_READWRITE);
    return r->remote != NULL;
}

static void CloseRemote(Remote* r) {
    if (r->remote) VirtualFreeEx(r->process, r->remote, 0, MEM_RELEASE);
    if (r->process) CloseHandle(r->process);
}

/* The status bar's text into `text` (1024 characters); 0 when there is no bar or it did not
   answer. */
static int ReadStatus(wchar_t* text) {
    HWND bar = Child(MainWindow(), STATUSCLASSNAMEW);
    DWORD_PTR unused = 0;
    int answered;
    if (!bar) return 0;
    Remote r = {0};
    if (!OpenRemote(bar, 1024 * sizeof(wchar_t), &r)) return 0;
    /* A bar in simple mode answers for its one part under index 0. */
    answered = SendMessageTimeoutW(bar, SB_GETTEXTW, 0, (LPARAM)r.remote, SMTO_NORMAL, 30000,
                                   &unused) != 0;
    if (answered) ReadProcessMemory(r.process, r.remote, text, 1023 * sizeof(wchar_t), NULL);
    CloseRemote(&r);
    return answered;
}

static int Status(void) {
    wchar_t text[1024] = {0};
    if (!ReadStatus(text)) return 1;
    PrintWide(text);
    printf("\n");
    return 0;
}

/* Follows the main window until it is gone, reading its row count and status text as often as
   it answers; prints the largest count seen and the last status text: "count<TAB>status". */
static int Watch(void) {
    int most = -1;
    wchar_t last[1024] = {0};
    for (;;) {
        HWND list = Child(MainWindow(), WC_LISTVIEWW);
        wchar_t text[1024] = {0};
        DWORD_PTR count = 0;
        if (!list) break;
        /* Only answers of a window that is still there count. */
        if (!SendMessageTimeoutW(list, LVM_GETITEMCOUNT, 0, 0, SMTO_NORMAL, 30000, &count)) break;
        if (!ReadStatus(text)) break;
        if ((int)count > most) most = (int)count;
        lstrcpyW(last, text);
    }
    printf("%d\t", most);
    PrintWide(last);
    printf("\n");
    return 0;
}

/* The list's client width, whether it shows each scroll bar, and its column widths:
   "clientWidth vscroll hscroll width1 width2 ...". */
static int Columns(void) {
    HWND list = Child(MainWindow(), WC_LISTVIEWW);
    if (!list) return 1;
    RECT client;
    GetClientRect(list, &client);
    const LONG style = GetWindowLongW(list, GWL_STYLE);
    printf("%ld %d %d", client.right, (style & WS_VSCROLL) ? 1 : 0, (style & WS_HSCROLL) ? 1 : 0);
    HWND header = (HWND)SendMessageW(list, LVM_GETHEADER, 0, 0);
    const int columns = (int)SendMessageW(header, HDM_GETITEMCOUNT, 0, 0);
    for (int c = 0; c < columns; ++c)
        printf(" %d", (int)SendMessageW(list, LVM_GETCOLUMNWIDTH, (WPARAM)c, 0));
    printf("\n");
    return 0;
}

static HWND TopLevel(const char* cls) {
    wchar_t wide[64];
    MultiByteToWideChar(CP_UTF8, 0, cls, -1, wide, 64);
    return FindWindowW(wide, NULL);
}

static int Rows(void) {
    HWND list = Child(MainWindow(), WC_LISTVIEWW);
    if (!list) return 1;
    const int count = (int)SendMessageW(list, LVM_GETITEMCOUNT, 0, 0);
    HWND header = (HWND)SendMessageW(list, LVM_GETHEADER, 0, 0);
    const int columns = (int)SendMessageW(header, HDM_GETITEMCOUNT, 0, 0);
    Remote r = {0};
    if (!OpenRemote(list, sizeof(LVITEMW) + 2048 * sizeof(wchar_t), &r)) return 1;
    for (int row = 0; row < count; ++row) {
        for (int column = 0; column < columns; ++column) {
            LVITEMW item = {0};
            wchar_t text[2048] = {0};
            item.iSubItem = column;
            item.pszText = (wchar_t*)((char*)r.remote + sizeof(LVITEMW));
            item.cchTextMax = 2048;
            WriteProcessMemory(r.process, r.remote, &item, sizeof item, NULL);
            SendMessageW(list, LVM_GETITEMTEXTW, (WPARAM)row, (LPARAM)r.remote);
            ReadProcessMemory(r.process, (char*)r.remote + sizeof(LVITEMW), text,
                              sizeof text - sizeof(wchar_t), NULL);
            if (column) printf("\t");
            PrintWide(text);
        }
        printf("\n");
    }
    CloseRemote(&r);
    return 0;
}

static int Count(void) {
    HWND list = Child(MainWindow(), WC_LISTVIEWW);
    if (!list) return 1;
    printf("%d\n", (int)SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    return 0;
}

static int Selected(void) {
    HWND list = Child(MainWindow(), WC_LISTVIEWW);
    if (!list) return 1;
    printf("%d\n", (int)SendMessageW(list, LVM_GETNEXTITEM, (WPARAM)-1, LVNI_SELECTED));
    return 0;
}

/* The window's outer rectangle and its client area, in screen coordinates:
   "left top right bottom clientLeft clientTop clientWidth clientHeight visible". */
static int PrintRect(HWND window) {
    if (!window) return 1;
    RECT outer, client;
    GetWindowRect(window, &outer);
    GetClientRect(window, &client);
    POINT origin = {0, 0};
    ClientToScreen(window, &origin);
    printf("%ld %ld %ld %ld %ld %ld %ld %ld %d\n", outer.left, outer.top, outer.right, outer.bottom,
           origin.x, origin.y, client.right, client.bottom, IsWindowVisible(window) ? 1 : 0);
    return 0;
}

static int Rect(const char* cls) { return PrintRect(TopLevel(cls)); }

/* A child control of the main window, by class. */
static int Control(const char* cls) {
    wchar_t wide[64];
    MultiByteToWideChar(CP_UTF8, 0, cls, -1, wide, 64);
    return PrintRect(Child(MainWindow(), wide));
}

/* The program's message box, if one is up: "text<TAB>button,button". */
static BOOL CALLBACK PrintBoxChild(HWND child, LPARAM parts) {
    wchar_t cls[32] = {0};
    wchar_t text[1024] = {0};
    GetClassNameW(child, cls, 31);
    SendMessageW(child, WM_GETTEXT, 1023, (LPARAM)text);
    if (parts == 0 && !lstrcmpiW(cls, L"Static") && text[0]) {
        PrintWide(text);
        printf("\t");
    }
    if (parts == 1 && !lstrcmpiW(cls, L"Button")) {
        PrintWide(text);
        printf(",");
    }
    return TRUE;
}

/* Presses the button of the program's message box whose caption is `caption`. */
static const wchar_t* wantedCaption;
static HWND foundButton;
static BOOL CALLBACK FindButton(HWND child, LPARAM unused) {
    wchar_t cls[32] = {0};
    wchar_t text[256] = {0};
    (void)unused;
    GetClassNameW(child, cls, 31);
    SendMessageW(child, WM_GETTEXT, 255, (LPARAM)text);
    if (!lstrcmpiW(cls, L"Button") && !lstrcmpW(text, wantedCaption)) {
        foundButton = child;
        return FALSE;
    }
    return TRUE;
}

static int Press(const char* caption) {
    wchar_t wide[256];
    HWND box = FindWindowW(L"#32770", L"Corvane Tolvessa");
    if (!box) return 1;
    MultiByteToWideChar(CP_UTF8, 0, caption, -1, wide, 256);
    wantedCaption = wide;
    foundButton = NULL;
    EnumChildWindows(box, FindButton, 0);
    if (!foundButton) return 1;
    return PostMessageW(foundButton, BM_CLICK, 0, 0) ? 0 : 1;
}

static int Box(void) {
    HWND box = FindWindowW(L"#32770", L"Corvane Tolvessa");
    if (!box || !IsWindowVisible(box)) return 1;
    EnumChildWindows(box, PrintBoxChild, 0);
    EnumChildWindows(box, PrintBoxChild, 1);
    printf("\n");
    return 0;
}

int main(int argc, char** argv) {
    /* The windows of a Wine virtual desktop (a screen of a chosen size) are seen from it only. */
    const char* desktop = getenv("TOLVESSA_PROBE_DESKTOP");
    if (desktop && desktop[0]) {
        wchar_t wide[64];
        MultiByteToWideChar(CP_UTF8, 0, desktop, -1, wide, 64);
        HDESK handle = OpenDesktopW(wide, 0, FALSE, GENERIC_ALL);
        if (!handle || !SetThreadDesktop(handle)) return 1;
    }
    if (argc < 2) return 2;
    if (!strcmp(argv[1], "status")) return Status();
    if (!strcmp(argv[1], "rows")) return Rows();
    if (!strcmp(argv[1], "selected")) return Selected();
    if (!strcmp(argv[1], "box")) return Box();
    if (!strcmp(argv[1], "press") && argc > 2) return Press(argv[2]);
    /* A menu command, as choosing the item does: WM_COMMAND posted to the main window. */
    if (!strcmp(argv[1], "command") && argc > 2)
        return PostMessageW(MainWindow(), WM_COMMAND, (WPARAM)atoi(argv[2]), 0) ? 0 : 1;
    if (!strcmp(argv[1], "foreground")) {
        wchar_t cls[64] = {0};
        GetClassNameW(GetForegroundWindow(), cls, 63);
        PrintWide(cls);
        printf("\n");
        return 0;
    }
    if (!strcmp(argv[1], "rect") && argc > 2) return Rect(argv[2]);
    if (!strcmp(argv[1], "count")) return Count();
    if (!strcmp(argv[1], "watch")) return Watch();
    if (!strcmp(argv[1], "columns")) return Columns();
    /* The window styles of a top-level window: "style exStyle" in hexadecimal. */
    if (!strcmp(argv[1], "styles") && argc > 2) {
        HWND window = TopLevel(argv[2]);
        if (!window) return 1;
        printf("%08lx %08lx\n", (unsigned long)GetWindowLongW(window, GWL_STYLE),
               (unsigned long)GetWindowLongW(window, GWL_EXSTYLE));
        return 0;
    }
    /* The outer size of a top-level window, as dragging its frame would set it. */
    if (!strcmp(argv[1], "size") && argc > 4) {
        HWND window = TopLevel(argv[2]);
        if (!window) return 1;
        return SetWindowPos(window, NULL, 0, 0, atoi(argv[3]), atoi(argv[4]),
                            SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE) ? 0 : 1;
    }
    /* A close request, as the close box or another program sends it; hidden windows too. */
    if (!strcmp(argv[1], "close") && argc > 2) {
        HWND window = TopLevel(argv[2]);
        return window && PostMessageW(window, WM_CLOSE, 0, 0) ? 0 : 1;
    }
    if (!strcmp(argv[1], "control") && argc > 2) return Control(argv[2]);
    return 2;
}
