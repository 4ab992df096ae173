#pragma once
// rechannel-cli's exit statuses, and the one each way a run ends maps to: a
// single-port `program` and the fleet runner (which adds up its children's)
// cannot disagree. Only the CLI uses them; the fleet is its lowest part.
// The exit-status table of docs/cli.md is checked against kExitStatusMeanings.
#include "RunOutcome.h"
#include "StopRequests.h"

namespace exit_status {
constexpr int moved = 0;
constexpr int alreadyMoved = 1;
constexpr int usage = 2;
constexpr int foreignSystem = 3;         // also: a station the frequency plan does not cover
constexpr int portNotOpened = 4;
constexpr int noProperAnswer = 5;        // also: partly written, the link lost during the writes
constexpr int otherFailure = 6;      // also: the backup could not be saved, nothing written
constexpr int verifyFailed = 7;      // read back differently; the system code was not (or not kept) written
constexpr int interrupted = stop_requests::kEndedStatus;   // SIGINT/SIGTERM before the first write; nothing written
}  // namespace exit_status

// Every exit status, in order, as `rechannel-cli --help` words it.
struct ExitStatusMeaning {
    int status;
    const char* meaning;
};
inline constexpr ExitStatusMeaning kExitStatusMeanings[] = {
    {exit_status::moved, "moved"},
    {exit_status::alreadyMoved, "already moved"},
    {exit_status::usage, "usage error"},
    {exit_status::foreignSystem, "station of another system"},
    {exit_status::portNotOpened, "port not opened or lost"},
    {exit_status::noProperAnswer, "no proper answer"},
    {exit_status::otherFailure, "any other failure or no backup saved"},
    {exit_status::verifyFailed, "verify failed and the station stays on its old system"},
    {exit_status::interrupted, "interrupted before the first write"},
};

struct ExitStatusRow {
    RunOutcome outcome;
    int exitStatus;
};
inline constexpr ExitStatusRow kExitStatuses[] = {
    {RunOutcome::Moved, exit_status::moved},
    {RunOutcome::AlreadyMoved, exit_status::alreadyMoved},
    {RunOutcome::Restored, exit_status::moved},
    {RunOutcome::OtherSystem, exit_status::foreignSystem},
    {RunOutcome::Unsupported, exit_status::foreignSystem},
    {RunOutcome::NoPort, exit_status::portNotOpened},
    {RunOutcome::PortLost, exit_status::portNotOpened},
    {RunOutcome::NoAnswer, exit_status::noProperAnswer},
    {RunOutcome::PartlyWritten, exit_status::noProperAnswer},
    {RunOutcome::VerifyFailed, exit_status::verifyFailed},
    {RunOutcome::Interrupted, exit_status::interrupted},
};

// Any outcome not above (Failed) is another failure.
constexpr int exitStatusOf(RunOutcome outcome) {
    for (const ExitStatusRow& row : kExitStatuses)
        if (row.outcome == outcome) return row.exitStatus;
    return exit_status::otherFailure;
}
