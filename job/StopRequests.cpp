#include "StopRequests.h"

namespace stop_requests {

namespace {
// Constant-initialised: the handler may run before any constructor would.
StopState theState;

constexpr int code(Phase phase) { return static_cast<int>(phase); }
}  // namespace

StopState& processState() { return theState; }

Action StopState::onRequest() {
    if (phase_.load() == code(Phase::Asking)) {
        asked_.store(true);
        return Action::Ask;
    }
    int expected = code(Phase::BeforeWrites);
    if (phase_.compare_exchange_strong(expected, code(Phase::Ending)) || expected == code(Phase::Ending))
        return Action::End;
    if (expected == code(Phase::Writing) && !announced_.exchange(true)) return Action::Announce;
    return Action::Ignore;
}

void StopState::ask() {
    asked_.store(false);
    phase_.store(code(Phase::Asking));
}

bool StopState::enterWritePhase() {
    int expected = code(Phase::BeforeWrites);
    return phase_.compare_exchange_strong(expected, code(Phase::Writing)) || expected == code(Phase::Writing);
}

void StopState::leaveWritePhase() {
    int expected = code(Phase::Writing);
    phase_.compare_exchange_strong(expected, code(Phase::Written));
}

bool StopState::holdsProcess() const {
    const Phase now = phase();
    return now == Phase::Writing || now == Phase::Written || (now == Phase::Closed && !recorded_.load());
}

bool StopState::closeRun() {
    int phase = phase_.load();
    while (phase != code(Phase::Ending))
        if (phase_.compare_exchange_weak(phase, code(Phase::Closed))) return true;
    return false;
}

}  // namespace stop_requests
