#include <cerrno>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <thread>

#include "InterruptGuard.h"
#include "InterruptState.h"

namespace {

constexpr int kInterruptedStatus = 130;

// The handler wakes a watcher thread through this pipe: the run's ledger
// line cannot be written from inside a signal handler.
int wakePipe[2] = {-1, -1};

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
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;   // the line's reads and the thread wait go on
    // A closed terminal (SIGHUP) ends a run like Ctrl-C: deferred while the
    // station is being written.
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGHUP, &action, nullptr);
    // A reader of standard error that has gone away (a fleet runner killed,
    // a closed pipe) must not end the run between two writes: the lines are
    // lost, the run goes on.
    ::signal(SIGPIPE, SIG_IGN);
}
