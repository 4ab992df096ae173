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

// Readies the terminal on descriptor `fd` for drawing in place with escape
// sequences (cursor up, erase below). A Windows console interprets them only
// with virtual-terminal processing on: it is switched on, and its mode put
// back at exit. False when the terminal cannot take them (a console older
// than Windows 10): the board then prints plain lines.
bool prepareTerminalDrawing(int fd);
