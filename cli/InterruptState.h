#pragma once
// The state shared by the platform's interrupt handler and the run, kept in
// lock-free atomics so the handler may touch it from any thread or signal
// context.
#include <atomic>

namespace interrupt_guard::state {

// kClosed: the run has ended and reported; later interrupts change nothing.
// kReadingOnly: a command that writes nothing to the station; an interrupt
// asks it to stop (stopAsked).
enum : int { kBeforeWrites = 0, kWriting = 1, kWritten = 2, kEnding = 3, kClosed = 4, kReadingOnly = 5 };
static_assert(std::atomic<int>::is_always_lock_free, "the interrupt handler needs lock-free atomics");

inline std::atomic<int> phase{kBeforeWrites};
inline std::atomic<bool> deferred{false};
inline std::atomic<bool> stopAsked{false};

inline constexpr char kNothingWritten[] = "rechannel-cli: interrupted before the first write; nothing was written to the station\n";
inline constexpr char kKeepConnected[] =
    "rechannel-cli: interrupted while the station is being written; keep it connected, the run ends after the restart\n";

// What the handler does: true when the process must end now (nothing was
// written, and from now on nothing will be); false when the interrupt is
// deferred or comes too late to matter. *announce: print kKeepConnected.
inline bool onInterrupt(bool* announce) {
    *announce = false;
    if (phase.load() == kReadingOnly) {
        stopAsked.store(true);
        return false;
    }
    int expected = kBeforeWrites;
    if (phase.compare_exchange_strong(expected, kEnding) || expected == kEnding) return true;
    if (expected == kWriting) *announce = !deferred.exchange(true);
    return false;
}

}  // namespace interrupt_guard::state

namespace interrupt_guard {
// Ends the process with status 130 (per platform).
[[noreturn]] void endProcess();
}  // namespace interrupt_guard
