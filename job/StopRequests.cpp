#include "StopRequests.h"

#include <cstdlib>
#include <cstring>

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

void readStopLines(long (*readSome)(char*, unsigned long), void (*request)()) {
    // "stop" and its line end, with room to tell a longer line apart.
    char line[16];
    std::size_t length = 0;
    bool overlong = false;
    char buffer[64];
    for (;;) {
        const long n = readSome(buffer, sizeof buffer);
        if (n <= 0) return;
        for (long i = 0; i < n; ++i) {
            const char c = buffer[i];
            if (c != '\n') {
                if (length < sizeof line) line[length++] = c;
                else overlong = true;
                continue;
            }
            if (length > 0 && line[length - 1] == '\r') --length;
            if (!overlong && length == 4 && std::memcmp(line, "stop", 4) == 0) request();
            length = 0;
            overlong = false;
        }
    }
}

bool stopLinesWanted() {
    const char* wanted = std::getenv(kStopInputVariable);
    return wanted && std::strcmp(wanted, "1") == 0;
}

}  // namespace stop_requests
