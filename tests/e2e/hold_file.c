/* Holds a file open the way another program might, for the end-to-end tests: opens it with
 * CreateFileW, says "held" on standard output and keeps it open until its standard input ends.
 *
 *     tolvessa_hold_file.exe exclusive|writing PATH
 *
 * "exclusive": read access, no sharing (nobody else may open it at all).
 * "writing":   read and write access, others may read and write (a writer that lets others in).
 * Exit code 0 when the file was held, 2 on a wrong command line, 3 when it could not be opened. */
#include <windows.h>

#include <stdio.h>
#include <wchar.h>

int wmain(int argc, wchar_t** argv) {
    if (argc != 3)
        return 2;
    DWORD access = GENERIC_READ;
    DWORD share = 0;
    if (wcscmp(argv[1], L"writing") == 0) {
        access = GENERIC_READ | GENERIC_WRITE;
        share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    } else if (wcscmp(argv[1], L"exclusive") != 0) {
        return 2;
    }
    HANDLE file =
        CreateFileW(argv[2], access, share, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        printf("error %lu\n", GetLastError());
        fflush(stdout);
        return 3;
    }
    printf("held\n");
    fflush(stdout);
    char buffer[64];
    DWORD got = 0;
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    while (ReadFile(input, buffer, sizeof buffer, &got, NULL) && got > 0) {
    }
    CloseHandle(file);
    return 0;
}
