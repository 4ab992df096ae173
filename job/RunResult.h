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

// The outcome of a run the job ended with a thrown `code`; `partlyWritten`
// as the run's writes left it, `verify` its read-back check. Code 255 is an
// unknown failure here: a foreign station is no failure the job throws.
inline RunOutcome failureOutcome(int code, bool partlyWritten, VerifyResult verify) {
    if (code == job_messages::kCodeStopped) return RunOutcome::Interrupted;
    if (verify == VerifyResult::Failed || code == job_messages::kCodeVerifyMismatch ||
        code == job_messages::kCodeSystemCodeUnconfirmed)
        return RunOutcome::VerifyFailed;
    // Whatever code broke the link, the station holds part of the move.
    if (partlyWritten) return RunOutcome::PartlyWritten;
    switch (code) {
    case job_messages::kCodeAlreadyMoved:
        return RunOutcome::AlreadyMoved;
    case job_messages::kCodePortNotOpened:
        return RunOutcome::NoPort;
    case job_messages::kCodeUnsupported:
        return RunOutcome::Unsupported;
    case job_messages::kCodePortLost:
        return RunOutcome::PortLost;
    case -1:
    case -2:
    case 6:
        return RunOutcome::NoAnswer;
    default:
        return RunOutcome::Failed;
    }
}

// The outcomes the station service did not have carry their code in the
// window's box, as "text (code)".
inline bool showsCode(const RunResult& result) {
    return result.partlyWritten || result.code == job_messages::kCodeVerifyMismatch;
}
