#include "Outcome.h"

#include <QStringList>

#include "JobMessages.h"

QString JobOutcome::outcomeLine() const {
    if (moved) return job_messages::moved();
    if (!hasError) return job_messages::unknownError();
    if (code == job_messages::kCodeVerifyMismatch)
        return QStringLiteral("verify failed, the station stays on its old system; run program again (%1)").arg(code);
    if (code == job_messages::kCodeSystemCodeUnconfirmed)
        return QStringLiteral("verify failed: the system code could not be read back; the station was restarted; "
                              "run program again to check it (%1)")
            .arg(code);
    if (code == job_messages::kCodeRestartNotSent)
        return QStringLiteral("the restart command could not be sent: the station holds its new settings but runs "
                              "the old ones; reconnect it and switch it off and on (%1)")
            .arg(code);
    if (code == job_messages::kCodeBackupNotSaved)
        return QStringLiteral("the backup could not be saved; nothing written (%1)").arg(code);
    return QStringLiteral("%1 (%2)").arg(text).arg(code);
}

int JobOutcome::exitStatus() const {
    if (moved) return exit_status::moved;
    if (!hasError) return exit_status::otherFailure;
    switch (code) {
    case job_messages::kCodeAlreadyMoved:
        return exit_status::alreadyMoved;
    case job_messages::kCodePortNotOpened:
        return exit_status::portNotOpened;
    case job_messages::kCodeForeignOrUnknown:
        // 255 stands for both; only the text tells them apart.
        return text == job_messages::foreignSystem() ? exit_status::foreignSystem : exit_status::otherFailure;
    case -1:
    case -2:
    case 6:
    case 7:
        return exit_status::noProperAnswer;
    case job_messages::kCodeVerifyMismatch:
    case job_messages::kCodeSystemCodeUnconfirmed:
        return exit_status::verifyFailed;
    default:
        return exit_status::otherFailure;
    }
}

QStringList stationLines(int stationAddress, const QString& backupPath) {
    return {QStringLiteral("station address: %1").arg(stationAddress),
            QStringLiteral("backup: %1").arg(backupPath.isEmpty() ? QStringLiteral("no backup") : backupPath)};
}
