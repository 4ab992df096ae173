#include <windows.h>

#include "InterruptGuard.h"
#include "InterruptState.h"

namespace {

constexpr UINT kInterruptedStatus = 130;

void say(const char* text, DWORD length) {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), text, length, &written, nullptr);
}

// Set when a reading command is asked to stop; wakes its wait.
HANDLE stopEvent = nullptr;

// Runs on a thread of its own that the console starts for each event.
BOOL WINAPI onConsoleEvent(DWORD) {
    bool announce = false;
    if (interrupt_guard::state::onInterrupt(&announce)) {
        say(interrupt_guard::state::kNothingWritten, sizeof interrupt_guard::state::kNothingWritten - 1);
        interrupt_guard::exitInterrupted();   // an ordinary thread: the run is recorded first
    }
    if (announce) say(interrupt_guard::state::kKeepConnected, sizeof interrupt_guard::state::kKeepConnected - 1);
    if (interrupt_guard::state::stopAsked.load() && stopEvent) SetEvent(stopEvent);
    return TRUE;   // handled: the run goes on to its restart
}

}  // namespace

// TerminateProcess, not ExitProcess: the worker thread may be inside a read,
// and DLL detach and static destructors must not run under it.
void interrupt_guard::endProcess() { TerminateProcess(GetCurrentProcess(), kInterruptedStatus); }

void interrupt_guard::install() { SetConsoleCtrlHandler(onConsoleEvent, TRUE); }

void interrupt_guard::installStopRequest() {
    state::phase.store(state::kReadingOnly);
    if (!stopEvent) stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

bool interrupt_guard::stopRequested() { return state::stopAsked.load(); }

bool interrupt_guard::waitUnlessStopped(int ms) {
    if (!stopRequested() && ms > 0) {
        if (stopEvent)
            WaitForSingleObject(stopEvent, static_cast<DWORD>(ms));
        else
            Sleep(static_cast<DWORD>(ms));
    }
    return stopRequested();
}
