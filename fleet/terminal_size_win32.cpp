#include "TerminalSize.h"

#include <io.h>
#include <windows.h>

#include <cstdlib>

#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

namespace {

HANDLE consoleOf(int fd) {
    const intptr_t handle = _get_osfhandle(fd);
    return handle == -1 ? INVALID_HANDLE_VALUE : reinterpret_cast<HANDLE>(handle);
}

// The console whose mode we changed and its mode before; put back at exit.
HANDLE changedConsole = INVALID_HANDLE_VALUE;
DWORD originalMode = 0;

void restoreMode() {
    if (changedConsole != INVALID_HANDLE_VALUE) SetConsoleMode(changedConsole, originalMode);
    changedConsole = INVALID_HANDLE_VALUE;
}

}  // namespace

// The visible window of the console's screen buffer, not the buffer itself:
// the buffer is usually thousands of rows tall.
TerminalSize terminalSize(int fd) {
    const HANDLE handle = consoleOf(fd);
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (handle == INVALID_HANDLE_VALUE || !GetConsoleScreenBufferInfo(handle, &info)) return {};
    return TerminalSize{info.srWindow.Bottom - info.srWindow.Top + 1, info.srWindow.Right - info.srWindow.Left + 1};
}

bool prepareTerminalDrawing(int fd) {
    const HANDLE handle = consoleOf(fd);
    DWORD mode = 0;
    if (handle == INVALID_HANDLE_VALUE || !GetConsoleMode(handle, &mode)) return false;
    if (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) return true;
    // Refused (ERROR_INVALID_PARAMETER) by consoles before Windows 10.
    if (!SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING)) return false;
    if (changedConsole == INVALID_HANDLE_VALUE) {
        changedConsole = handle;
        originalMode = mode;
        std::atexit(restoreMode);
    }
    return true;
}
