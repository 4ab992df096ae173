#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <windows.h>

#include <atomic>
#include <cstdlib>

#include "CliOutput.h"

namespace {

// The console's output code page as the program found it; 0 while unchanged.
std::atomic<UINT> originalCodePage{0};

void restoreAtExit() { restoreStandardStreams(); }

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
    const UINT before = originalCodePage.exchange(0);
    if (before != 0) {
        fflush(stdout);
        fflush(stderr);
        SetConsoleOutputCP(before);
    }
}
