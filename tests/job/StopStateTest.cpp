// What a stop request does in each phase of a command: a run that has
// written nothing ends, one that is writing goes on and is told once, one
// that has ended ignores it, a reading command is asked to stop.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "StopRequests.h"

namespace {

using stop_requests::Action;
using stop_requests::StopState;

TEST(StopState, EachPhaseAnswersItsRequests) {
    const struct {
        const char* phase;
        std::function<void(StopState&)> reach;
        std::vector<Action> actions;   // for three requests in a row
        bool mayWrite;                 // enterWritePhase() afterwards
        bool runCloses;                // closeRun() afterwards
        bool stopAsked;
    } cases[] = {
        {"before the first write", [](StopState&) {}, {Action::End, Action::End, Action::End}, false, false, false},
        {"writing", [](StopState& s) { s.enterWritePhase(); },
         {Action::Announce, Action::Ignore, Action::Ignore}, true, true, false},
        {"after the restart", [](StopState& s) { s.enterWritePhase(); s.leaveWritePhase(); },
         {Action::Ignore, Action::Ignore, Action::Ignore}, false, true, false},
        {"run closed", [](StopState& s) { s.closeRun(); }, {Action::Ignore, Action::Ignore, Action::Ignore}, false, true, false},
        {"reading only", [](StopState& s) { s.ask(); }, {Action::Ask, Action::Ask, Action::Ask}, false, true, true},
    };
    for (const auto& c : cases) {
        StopState state;
        c.reach(state);
        EXPECT_FALSE(state.stopAsked()) << c.phase;
        std::vector<Action> actions;
        for (int i = 0; i < 3; ++i) actions.push_back(state.onRequest());
        EXPECT_EQ(actions, c.actions) << c.phase;
        EXPECT_EQ(state.stopAsked(), c.stopAsked) << c.phase;
        EXPECT_EQ(state.enterWritePhase(), c.mayWrite) << c.phase;
        EXPECT_EQ(state.closeRun(), c.runCloses) << c.phase;
    }
}

// A closed console ends the process once the handler returns: it is held
// off while the run writes and until the ended run's ledger line is on disk.
TEST(StopState, AClosedConsoleIsHeldOffUntilTheRunIsRecorded) {
    const struct {
        const char* phase;
        std::function<void(StopState&)> reach;
        bool holds;
    } cases[] = {
        {"before the first write", [](StopState&) {}, false},
        {"writing", [](StopState& s) { s.enterWritePhase(); }, true},
        {"after the restart", [](StopState& s) { s.enterWritePhase(); s.leaveWritePhase(); }, true},
        {"closed, not yet recorded", [](StopState& s) { s.enterWritePhase(); s.leaveWritePhase(); s.closeRun(); }, true},
        {"recorded", [](StopState& s) { s.enterWritePhase(); s.closeRun(); s.recorded(); }, false},
        {"reading only", [](StopState& s) { s.ask(); }, false},
    };
    for (const auto& c : cases) {
        StopState state;
        c.reach(state);
        EXPECT_EQ(state.holdsProcess(), c.holds) << c.phase;
    }
}

}  // namespace
