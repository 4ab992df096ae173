/* Ends the desktop session for one program as Windows does at a log-off:
 * finds rechannel-cli's hidden session-end window, asks it whether the
 * session may end (WM_QUERYENDSESSION), then tells it that it ends
 * (WM_ENDSESSION), each sent and waited for as the system does. Prints the
 * answer and how long each took:
 *
 *   query=1 ms=3
 *   end ms=41
 *
 *   SessionEnder.exe [SECONDS]   (how long to look for the window, default 30)
 */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

int wmain(int argc, wchar_t** argv) {
    const int seconds = argc > 1 ? _wtoi(argv[1]) : 30;
    HWND window = NULL;
    for (int waited = 0; !window && waited < seconds * 1000; waited += 20) {
        window = FindWindowW(L"rechannel-session-end", NULL);
        if (!window) Sleep(20);
    }
    if (!window) {
        fprintf(stderr, "no session-end window within %d s\n", seconds);
        return 1;
    }
    DWORD_PTR answer = 0;
    ULONGLONG start = GetTickCount64();
    if (!SendMessageTimeoutW(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_NORMAL, 30000, &answer)) {
        fprintf(stderr, "WM_QUERYENDSESSION not answered (err=%lu)\n", GetLastError());
        return 1;
    }
    printf("query=%d ms=%llu\n", (int)answer, GetTickCount64() - start);
    fflush(stdout);
    /* The program may end inside its answer: the send then fails, which is
     * no error here. */
    start = GetTickCount64();
    SendMessageTimeoutW(window, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_NORMAL, 30000, &answer);
    printf("end ms=%llu\n", GetTickCount64() - start);
    return 0;
}
