#pragma once
// How a programming or restore run ended, named once for every part that reports it:
// the ledger's outcome name and rechannel-cli's exit status side by side, so
// the ledger, a single-port run and the fleet runner cannot disagree.

namespace exit_status {
constexpr int moved = 0;
constexpr int alreadyMoved = 1;
constexpr int usage = 2;
constexpr int foreignSystem = 3;         // also: a station the frequency plan does not cover
constexpr int portNotOpened = 4;
constexpr int noProperAnswer = 5;        // also: partly written, the link lost during the writes
constexpr int otherFailure = 6;      // also: the backup could not be saved, nothing written
constexpr int verifyFailed = 7;      // read back differently; the system code was not (or not kept) written
constexpr int interrupted = 130;     // SIGINT/SIGTERM before the first write; nothing written
}  // namespace exit_status

enum class RunOutcome {
    Moved,
    AlreadyMoved,
    Restored,
    OtherSystem,
    Unsupported,
    NoPort,
    NoAnswer,
    PartlyWritten,
    VerifyFailed,
    Interrupted,
    Failed
};

struct RunOutcomeRow {
    RunOutcome outcome;
    const char* name;    // in the ledger
    int exitStatus;      // of a single-port `program`
};

// Every outcome, in the order the ledger summary counts them; "failed" stays
// last (runOutcomeRow falls back on it).
inline constexpr RunOutcomeRow kRunOutcomes[] = {
    {RunOutcome::Moved, "moved", exit_status::moved},
    {RunOutcome::AlreadyMoved, "already-moved", exit_status::alreadyMoved},
    // A restore that put a backup back; the station is on its old settings again.
    {RunOutcome::Restored, "restored", exit_status::moved},
    {RunOutcome::OtherSystem, "other-system", exit_status::foreignSystem},
    {RunOutcome::Unsupported, "unsupported", exit_status::foreignSystem},
    {RunOutcome::NoPort, "no-port", exit_status::portNotOpened},
    {RunOutcome::NoAnswer, "no-answer", exit_status::noProperAnswer},
    {RunOutcome::PartlyWritten, "partly-written", exit_status::noProperAnswer},
    {RunOutcome::VerifyFailed, "verify-failed", exit_status::verifyFailed},
    {RunOutcome::Interrupted, "interrupted", exit_status::interrupted},
    {RunOutcome::Failed, "failed", exit_status::otherFailure},
};

constexpr const RunOutcomeRow& runOutcomeRow(RunOutcome outcome) {
    for (const RunOutcomeRow& row : kRunOutcomes)
        if (row.outcome == outcome) return row;
    return kRunOutcomes[sizeof kRunOutcomes / sizeof kRunOutcomes[0] - 1];
}
