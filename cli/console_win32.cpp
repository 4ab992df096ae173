#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <windows.h>

#include <atomic>
#include <cstdlib>

#include "CliOutput.h"

namespace {

#ifndef ENABLE_QUICK_EDIT_MODE
#define ENABLE_QUICK_EDIT_MODE 0x0040
#endif
#ifndef ENABLE_EXTENDED_FLAGS
#define ENABLE_EXTENDED_FLAGS 0x0080
#endif

// The console's output code page as the program found it; 0 while unchanged.
std::atomic<UINT> originalCodePage{0};
// The console's input while QuickEdit is off, and its mode before; null
// while unchanged.
std::atomic<HANDLE> quickEditInput{nullptr};
DWORD quickEditMode = 0;

void restoreAtExit() { restoreStandardStreams(); }

bool isConsole(DWORD which) {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(which), &mode) != 0;
}

void quickEditBack() {
    if (const HANDLE input = quickEditInput.exchange(nullptr)) {
        SetConsoleMode(input, quickEditMode | ENABLE_EXTENDED_FLAGS);
        CloseHandle(input);
    }
}

}  // namespace

// The lines are UTF-8 (the Russian station texts among them): the console
// is told so, or it shows them in the OEM code page as mojibake. The code
// page belongs to the console, not to us: the cmd window the technician goes
// on working in gets its own back however we end. The streams go binary so
// a line reaches a file or a pipe (the fleet reads its children's standard
// error) byte for byte, with no carriage return added; the console itself
// starts a new line at a bare line feed.
void prepareStandardStreams() {
    const UINT before = GetConsoleOutputCP();   // 0 without a console
    if (before != 0 && before != CP_UTF8 && SetConsoleOutputCP(CP_UTF8)) {
        originalCodePage.store(before);
        std::atexit(restoreAtExit);
    }
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
}

void restoreStandardStreams() {
    quickEditBack();
    const UINT before = originalCodePage.exchange(0);
    if (before != 0) {
        fflush(stdout);
        fflush(stderr);
        SetConsoleOutputCP(before);
    }
}

// The console's own input (CONIN$): standard input may be a pipe (a fleet's
// child reads its stop lines there) while the output is the console.
QuickEditOff::QuickEditOff() {
    if (quickEditInput.load() || (!isConsole(STD_OUTPUT_HANDLE) && !isConsole(STD_ERROR_HANDLE))) return;
    const HANDLE input = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, OPEN_EXISTING, 0, nullptr);
    if (input == INVALID_HANDLE_VALUE) return;
    DWORD mode = 0;
    // Changing QuickEdit takes ENABLE_EXTENDED_FLAGS.
    if (!GetConsoleMode(input, &mode) || !(mode & ENABLE_QUICK_EDIT_MODE) ||
        !SetConsoleMode(input, (mode | ENABLE_EXTENDED_FLAGS) & ~DWORD(ENABLE_QUICK_EDIT_MODE))) {
        CloseHandle(input);
        return;
    }
    quickEditMode = mode;
    quickEditInput.store(input);
    static bool atExit = false;
    if (!atExit) atExit = std::atexit(quickEditBack) == 0;
}

QuickEditOff::~QuickEditOff() { quickEditBack(); }
