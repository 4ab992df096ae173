#pragma once
// How one programming run ended, decided once where the job ends: the window,
// rechannel-cli and the ledger all read this record, none re-reads the text.
#include <QString>

#include "ChangeWrites.h"
#include "JobMessages.h"
#include "RunOutcome.h"

struct RunResult {
    RunOutcome outcome = RunOutcome::Failed;   // a run that reported nothing failed
    QString text;            // the outcome signal's text; empty for a move or no signal at all
    int code = 0;            // the job's code; 0 for a move
    // Ended with the partly-written text: the link broke off between the
    // first write and the restart.
    bool partlyWritten = false;

    bool reported() const { return outcome == RunOutcome::Moved || !text.isEmpty(); }
};

// The outcome of a run the job ended with a thrown `code` (its row in
// job_messages::kCodes); `partlyWritten` as the run's writes left it,
// `verify` its read-back check. Code 255 is an unknown failure here: a
// foreign station is no failure the job throws.
inline RunOutcome failureOutcome(int code, bool partlyWritten, VerifyResult verify) {
    const RunOutcome outcome = job_messages::codeRow(code).outcome;
    if (outcome == RunOutcome::Interrupted) return outcome;
    if (verify == VerifyResult::Failed || outcome == RunOutcome::VerifyFailed) return RunOutcome::VerifyFailed;
    // Whatever code broke the link, the station holds part of the move.
    if (partlyWritten) return RunOutcome::PartlyWritten;
    return outcome;
}

// The outcomes the station service did not have carry their code in the
// window's box, as "text (code)".
inline bool showsCode(const RunResult& result) {
    return result.partlyWritten || result.code == job_messages::kCodeVerifyMismatch;
}
