#include "InterruptGuard.h"

#include <mutex>

#include "InterruptState.h"

namespace interrupt_guard {

namespace {
std::function<void()> beforeExit;
std::once_flag exitOnce;
}  // namespace

void setBeforeExit(std::function<void()> hook) { beforeExit = std::move(hook); }

bool closeRun() {
    int phase = state::phase.load();
    while (phase != state::kEnding)
        if (state::phase.compare_exchange_weak(phase, state::kClosed)) return true;
    return false;
}

// A second caller blocks in call_once until the first has ended the process.
void exitInterrupted() {
    std::call_once(exitOnce, [] {
        if (beforeExit) beforeExit();
        endProcess();
    });
    endProcess();
}

bool enterWritePhase() {
    int expected = state::kBeforeWrites;
    return state::phase.compare_exchange_strong(expected, state::kWriting) || expected == state::kWriting;
}

void leaveWritePhase() {
    int expected = state::kWriting;
    state::phase.compare_exchange_strong(expected, state::kWritten);
}

}  // namespace interrupt_guard
