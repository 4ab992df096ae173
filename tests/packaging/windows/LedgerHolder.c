/* Holds a file open as a spreadsheet holds a CSV: read access, shared for
 * reading only, so no other program may open it for writing. Says "held" on
 * standard output once it holds the file, and lets go when the file named
 * second appears (or after two minutes).
 *
 *   LedgerHolder.exe FILE RELEASE-FILE
 */
#include <windows.h>
#include <stdio.h>

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: LedgerHolder.exe FILE RELEASE-FILE\n");
        return 2;
    }
    HANDLE held = CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (held == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "cannot open the file (err=%lu)\n", GetLastError());
        return 1;
    }
    printf("held\n");
    fflush(stdout);
    for (int waited = 0; waited < 120000; waited += 50) {
        if (GetFileAttributesW(argv[2]) != INVALID_FILE_ATTRIBUTES) break;
        Sleep(50);
    }
    CloseHandle(held);
    printf("released\n");
    return 0;
}
