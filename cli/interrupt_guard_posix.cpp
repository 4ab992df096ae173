#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "InterruptGuard.h"
#include "InterruptState.h"

namespace {

constexpr int kInterruptedStatus = 130;

// The handler wakes a watcher thread through this pipe: the run's ledger
// line cannot be written from inside a signal handler.
int wakePipe[2] = {-1, -1};
// For a reading command: the handler wakes the command's wait through this
// one, whichever thread the signal lands on.
int stopPipe[2] = {-1, -1};

void say(const char* text, std::size_t length) {
    while (length > 0) {
        const ssize_t n = ::write(STDERR_FILENO, text, length);
        if (n <= 0) return;
        text += n;
        length -= static_cast<std::size_t>(n);
    }
}

// Only async-signal-safe calls: atomics, write(2) and _exit(2).
extern "C" void onSignal(int) {
    bool announce = false;
    if (interrupt_guard::state::onInterrupt(&announce)) {
        say(interrupt_guard::state::kNothingWritten, sizeof interrupt_guard::state::kNothingWritten - 1);
        const char wake = 1;
        if (wakePipe[1] < 0 || ::write(wakePipe[1], &wake, 1) != 1) ::_exit(kInterruptedStatus);
        return;
    }
    if (announce) say(interrupt_guard::state::kKeepConnected, sizeof interrupt_guard::state::kKeepConnected - 1);
    if (interrupt_guard::state::stopAsked.load() && stopPipe[1] >= 0) {
        const char wake = 1;
        if (::write(stopPipe[1], &wake, 1) != 1) {}   // full: the wait is woken already
    }
}

void handleStopSignals() {
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;   // the line's reads and the thread wait go on
    // A closed terminal (SIGHUP) is handled like Ctrl-C.
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGHUP, &action, nullptr);
}

void watchForInterrupt() {
    char wake = 0;
    for (;;) {
        const ssize_t n = ::read(wakePipe[0], &wake, 1);
        if (n == 1) interrupt_guard::exitInterrupted();
        if (n == 0 || (n < 0 && errno != EINTR)) return;
    }
}

}  // namespace

void interrupt_guard::endProcess() { ::_exit(kInterruptedStatus); }

void interrupt_guard::install() {
    if (wakePipe[0] < 0 && ::pipe2(wakePipe, O_CLOEXEC) == 0) std::thread(watchForInterrupt).detach();
    // A closed terminal ends a run like Ctrl-C: deferred while the station
    // is being written.
    handleStopSignals();
    // A reader of standard error that has gone away (a fleet runner killed,
    // a closed pipe) must not end the run between two writes: the lines are
    // lost, the run goes on.
    ::signal(SIGPIPE, SIG_IGN);
}

void interrupt_guard::installStopRequest() {
    state::phase.store(state::kReadingOnly);
    if (stopPipe[0] < 0 && ::pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) stopPipe[0] = stopPipe[1] = -1;
    handleStopSignals();
}

bool interrupt_guard::stopRequested() { return state::stopAsked.load(); }

bool interrupt_guard::waitUnlessStopped(int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!stopRequested()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
        if (left <= 0) break;
        // Without the pipe (fd -1 is skipped), a signal on this thread still
        // ends the poll early.
        struct pollfd wake {stopPipe[0], POLLIN, 0};
        // The wake-up is taken off the pipe, so that it cannot turn a later
        // wait into a busy loop.
        char taken = 0;
        if (::poll(&wake, 1, static_cast<int>(left)) > 0)
            while (::read(stopPipe[0], &taken, 1) > 0) {}
    }
    return stopRequested();
}
