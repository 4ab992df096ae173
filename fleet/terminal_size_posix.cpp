#include "TerminalSize.h"

#include <sys/ioctl.h>

TerminalSize terminalSize(int fd) {
    winsize size{};
    if (::ioctl(fd, TIOCGWINSZ, &size) != 0) return {};
    return TerminalSize{size.ws_row, size.ws_col};
}

// A POSIX terminal interprets the sequences as they are.
bool prepareTerminalDrawing(int) { return true; }
