#include <windows.h>

#include "InterruptGuard.h"
#include "InterruptState.h"

namespace {

constexpr UINT kInterruptedStatus = 130;

void say(const char* text, DWORD length) {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), text, length, &written, nullptr);
}

// Runs on a thread of its own that the console starts for each event.
BOOL WINAPI onConsoleEvent(DWORD) {
    bool announce = false;
    if (interrupt_guard::state::onInterrupt(&announce)) {
        say(interrupt_guard::state::kNothingWritten, sizeof interrupt_guard::state::kNothingWritten - 1);
        interrupt_guard::exitInterrupted();   // an ordinary thread: the run is recorded first
    }
    if (announce) say(interrupt_guard::state::kKeepConnected, sizeof interrupt_guard::state::kKeepConnected - 1);
    return TRUE;   // handled: the run goes on to its restart
}

}  // namespace

// TerminateProcess, not ExitProcess: the worker thread may be inside a read,
// and DLL detach and static destructors must not run under it.
void interrupt_guard::endProcess() { TerminateProcess(GetCurrentProcess(), kInterruptedStatus); }

void interrupt_guard::install() { SetConsoleCtrlHandler(onConsoleEvent, TRUE); }
