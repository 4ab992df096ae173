#pragma once
// What a fleet's port is doing, told once by its worker in types and worded
// by each front end in its own words: the CLI's status board in English, the
// fleet window's table and status line in Russian. Never compared as text.
#include <optional>

#include "ChangeWrites.h"
#include "RunOutcome.h"

struct PortActivity {
    enum class State {
        WaitingForPort,      // not there (a name no port has now), or it does not open
        WaitingForStation,   // there, and nothing answers
        Running,             // a programming run, in `phase`
        Ended,               // a run has ended with `outcome`
        WaitingForLeave,     // the station its run did is still attached; the next is taken when it leaves
    };
    State state = State::WaitingForStation;
    JobPhase phase = JobPhase::Opening;        // Running
    std::optional<int> address;                // the station's, once known
    RunOutcome outcome = RunOutcome::Failed;   // Ended
    bool noStation = false;                    // Ended: with --all, nothing answered on the port at all

    // Between the first write and the restart: a station on the port is off
    // the air if its run is cut short now.
    bool inWrites() const {
        return state == State::Running &&
               (phase == JobPhase::Writing || phase == JobPhase::Verifying || phase == JobPhase::Restarting);
    }
    bool operator==(const PortActivity& other) const {
        return state == other.state && phase == other.phase && address == other.address && outcome == other.outcome &&
               noStation == other.noStation;
    }
    bool operator!=(const PortActivity& other) const { return !(*this == other); }

    static PortActivity waiting(State state, std::optional<int> address = std::nullopt) {
        PortActivity now;
        now.state = state;
        now.address = address;
        return now;
    }
    static PortActivity running(JobPhase phase, std::optional<int> address) {
        PortActivity now;
        now.state = State::Running;
        now.phase = phase;
        now.address = address;
        return now;
    }
    static PortActivity ended(RunOutcome outcome, std::optional<int> address, bool noStation) {
        PortActivity now;
        now.state = State::Ended;
        now.outcome = outcome;
        now.address = address;
        now.noStation = noStation;
        return now;
    }
};
