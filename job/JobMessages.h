#pragma once
// The job's codes, and the outcome texts the operator sees, exactly as the
// station service uses them.
#include <QString>

#include "LinkCodes.h"
#include "RunOutcome.h"
#include "StopRequests.h"

namespace job_messages {
inline QString portNotOpened() { return outcomeMessage(RunOutcome::NoPort); }
inline QString noAnswer() { return outcomeMessage(RunOutcome::NoAnswer); }
inline QString unknownError() { return outcomeMessage(RunOutcome::Failed); }
inline QString alreadyMoved() { return outcomeMessage(RunOutcome::AlreadyMoved); }
inline QString foreignSystem() { return outcomeMessage(RunOutcome::OtherSystem); }
inline QString moved() { return outcomeMessage(RunOutcome::Moved); }
inline QString notKept() { return outcomeMessage(RunOutcome::VerifyFailed); }
inline QString partlyWritten() { return outcomeMessage(RunOutcome::PartlyWritten); }
inline QString portLost() { return outcomeMessage(RunOutcome::PortLost); }
// `folder` is where the backups are kept.
inline QString backupNotSaved(const QString& folder) {
    return QString::fromUtf8("Не удалось сохранить резервную копию параметров станции в %1. Станция не изменена.")
        .arg(folder);
}
inline QString stopped() { return outcomeMessage(RunOutcome::Interrupted); }

constexpr int kCodePortNotOpened = 1;
constexpr int kCodeAlreadyMoved = 1000;
constexpr int kCodeForeignOrUnknown = 255;
// A write the station acknowledged but did not keep (read-back check).
constexpr int kCodeVerifyMismatch = 8;
// The backup could not be saved and the run may not write without one.
constexpr int kCodeBackupNotSaved = 9;
// The system code was written and acknowledged but its read-back got no
// answer; the station was restarted all the same.
constexpr int kCodeSystemCodeUnconfirmed = 10;
// Everything was written but the restart command could not be sent (the
// port failed during the settle): the station runs its old settings.
constexpr int kCodeRestartNotSent = 11;
// The port failed under the run (the adapter pulled, a driver error): the
// link's own code for it (-3) becomes this one where the job ends.
constexpr int kCodePortLost = 12;
// The run was asked to stop before its first write (the window closed, an
// interrupt of the CLI): the code is the exit status the CLI then ends with.
constexpr int kCodeStopped = stop_requests::kEndedStatus;

// How a run that a code ended is told, one row per code: its outcome, whose
// message the window shows for it, and the line rechannel-cli ends with when
// it says more than "the window's text (code)" (%1: the code). A code with
// no row ends as a failure and reads as no answer.
struct CodeRow {
    int code;
    RunOutcome outcome;
    RunOutcome worded;     // the outcome whose message the window shows
    const char* cliLine;   // nullptr: the window's text and the code
    // The line says nothing was written: a run that had begun its writes
    // says it was partly written instead.
    bool saysNothingWritten = false;
};

inline constexpr CodeRow kCodes[] = {
    {kCodePortNotOpened, RunOutcome::NoPort, RunOutcome::NoPort, nullptr},
    {kCodePortLost, RunOutcome::PortLost, RunOutcome::PortLost,
     "the serial port failed during the run (the adapter was unplugged or its driver reported an error); nothing "
     "was written; check the connection and run it again (%1)",
     true},
    // The link's own codes. Its port-lost code never reaches here: the job
    // ends such a run with kCodePortLost.
    {link_codes::kNoReply, RunOutcome::NoAnswer, RunOutcome::NoAnswer, nullptr},
    {link_codes::kRefused, RunOutcome::NoAnswer, RunOutcome::NoAnswer, nullptr},
    {link_codes::kVersionZero, RunOutcome::NoAnswer, RunOutcome::NoAnswer, nullptr},
    // The frequency plan covers neither the station's range code nor its band type.
    {link_codes::kBandMismatch, RunOutcome::Unsupported, RunOutcome::Unsupported, nullptr},
    {kCodeVerifyMismatch, RunOutcome::VerifyFailed, RunOutcome::VerifyFailed,
     "verify failed, the station stays on its old system; run program again (%1)"},
    // The window's text names the folder the backups go to (WorkThread.cpp).
    {kCodeBackupNotSaved, RunOutcome::Failed, RunOutcome::Failed, "the backup could not be saved; nothing written (%1)",
     true},
    {kCodeSystemCodeUnconfirmed, RunOutcome::VerifyFailed, RunOutcome::NoAnswer,
     "verify failed: the system code could not be read back; the station was restarted; run program again to "
     "check it (%1)"},
    {kCodeRestartNotSent, RunOutcome::Failed, RunOutcome::NoAnswer,
     "the restart command could not be sent: the station holds its new settings but runs the old ones; reconnect it "
     "and switch it off and on (%1)"},
    {kCodeStopped, RunOutcome::Interrupted, RunOutcome::Interrupted, nullptr},
    {kCodeAlreadyMoved, RunOutcome::AlreadyMoved, RunOutcome::AlreadyMoved, nullptr},
    // Anything else that broke the run (not a code the job throws).
    {kCodeForeignOrUnknown, RunOutcome::Failed, RunOutcome::Failed, nullptr},
};

constexpr CodeRow codeRow(int code) {
    for (const CodeRow& row : kCodes)
        if (row.code == code) return row;
    return {code, RunOutcome::Failed, RunOutcome::NoAnswer, nullptr};
}
}
