#pragma once
// The point a wait must not pass: a reply trickling in, a write the line
// does not take, a held ledger, a launcher's answer. On the steady clock, so
// a change of the wall clock neither ends a wait early nor stretches it. No
// Qt: the link uses it.
#include <chrono>
#include <climits>

class Deadline {
public:
    using Clock = std::chrono::steady_clock;

    // `within` after `from`.
    explicit Deadline(std::chrono::milliseconds within, Clock::time_point from = Clock::now())
        : end_(from + within) {}
    static Deadline at(Clock::time_point end) { return Deadline(end); }
    // A wait without a limit: never expired, INT_MAX ms remaining.
    static Deadline never() { return Deadline(Clock::time_point::max()); }

    bool expired(Clock::time_point now = Clock::now()) const { return now >= end_; }

    // What is left in whole milliseconds, rounded up so that a wait (a poll,
    // a sleep) of this long never wakes before the deadline; 0 exactly when
    // expired; at most INT_MAX.
    int remainingMs(Clock::time_point now = Clock::now()) const {
        if (now >= end_) return 0;
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(end_ - now).count();
        const auto ms = left / 1000 + (left % 1000 != 0 || left == 0 ? 1 : 0);
        return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
    }

    Clock::time_point end() const { return end_; }

private:
    explicit Deadline(Clock::time_point end) : end_(end) {}

    Clock::time_point end_;
};
