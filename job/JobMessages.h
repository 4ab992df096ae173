#pragma once
// The outcome texts the operator sees, exactly as the station service uses them.
#include <QString>

#include "RunOutcome.h"

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
// interrupt of the CLI).
constexpr int kCodeStopped = 130;
// identifyStation: the frequency plan covers neither the station's range
// code nor its band type.
constexpr int kCodeUnsupported = 7;
}
