#include <signal.h>
#include <unistd.h>

#include "InterruptGuard.h"
#include "InterruptState.h"

namespace {

constexpr int kInterruptedStatus = 130;

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
        ::_exit(kInterruptedStatus);
    }
    if (announce) say(interrupt_guard::state::kKeepConnected, sizeof interrupt_guard::state::kKeepConnected - 1);
}

}  // namespace

void interrupt_guard::install() {
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;   // the line's reads and the thread wait go on
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}
