#include "InterruptGuard.h"

#include "InterruptState.h"

namespace interrupt_guard {

bool enterWritePhase() {
    int expected = state::kBeforeWrites;
    return state::phase.compare_exchange_strong(expected, state::kWriting) || expected == state::kWriting;
}

void leaveWritePhase() {
    int expected = state::kWriting;
    state::phase.compare_exchange_strong(expected, state::kWritten);
}

bool deferredAny() { return state::deferred.load(); }

}  // namespace interrupt_guard
