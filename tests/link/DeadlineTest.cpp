// The deadline every bounded wait on the line, the ledger and the launcher
// takes its time from.
#include <gtest/gtest.h>

#include <climits>

#include "Deadline.h"

namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;

// What is left is rounded up, so a poll of that long never wakes before the
// deadline; nothing is left exactly when it has expired.
TEST(Deadline, RemainingTimeIsRoundedUpAndEndsWhereItExpires) {
    const Deadline::Clock::time_point start{};   // any fixed point: no clock is read
    const Deadline deadline(milliseconds(100), start + milliseconds(1000));
    const struct {
        const char* what;
        Deadline::Clock::duration at;   // since start
        int remainingMs;
        bool expired;
    } cases[] = {
        {"its whole length", milliseconds(1000), 100, false},
        {"a part of a millisecond into it", milliseconds(1000) + microseconds(300), 100, false},
        {"well into it", milliseconds(1060), 40, false},
        {"less than a millisecond before", milliseconds(1100) - microseconds(1), 1, false},
        {"a nanosecond before", milliseconds(1100) - std::chrono::nanoseconds(1), 1, false},
        {"at it", milliseconds(1100), 0, true},
        {"long after it", milliseconds(5000), 0, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(deadline.remainingMs(start + c.at), c.remainingMs) << c.what;
        EXPECT_EQ(deadline.expired(start + c.at), c.expired) << c.what;
    }
}

TEST(Deadline, NoLengthHasExpiredAndNoLimitNever) {
    const auto now = Deadline::Clock::now();
    EXPECT_TRUE(Deadline(milliseconds(0), now).expired(now));
    EXPECT_EQ(Deadline(milliseconds(-5), now).remainingMs(now), 0) << "a length below zero is no time at all";
    EXPECT_FALSE(Deadline::never().expired());
    EXPECT_EQ(Deadline::never().remainingMs(), INT_MAX) << "clamped, never wrapped";
    EXPECT_EQ(Deadline(milliseconds(std::int64_t{INT_MAX} * 4), now).remainingMs(now), INT_MAX);
}

}  // namespace
