#include "TerminalSize.h"

#include <io.h>
#include <windows.h>

// The visible window of the console's screen buffer, not the buffer itself:
// the buffer is usually thousands of rows tall.
TerminalSize terminalSize(int fd) {
    const intptr_t handle = _get_osfhandle(fd);
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (handle == -1 || !GetConsoleScreenBufferInfo(reinterpret_cast<HANDLE>(handle), &info)) return {};
    return TerminalSize{info.srWindow.Bottom - info.srWindow.Top + 1, info.srWindow.Right - info.srWindow.Left + 1};
}
