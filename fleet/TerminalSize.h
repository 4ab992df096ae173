#pragma once
// The size of the terminal a stream is drawn on, asked again at every draw
// so a resized window is followed.

struct TerminalSize {
    int rows = 0;      // 0: not known
    int columns = 0;
};

// The window size of the terminal on descriptor `fd`; zeros when `fd` is no
// terminal or does not say.
TerminalSize terminalSize(int fd);
