#include "Outcome.h"

#include <QStringList>

#include "JobMessages.h"
#include "ReadBack.h"

QString outcomeLine(const RunResult& result) {
    const int code = result.code;
    if (result.outcome == RunOutcome::Moved) return job_messages::moved();
    if (!result.reported()) return job_messages::unknownError();
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
    if (result.partlyWritten) return partlyWrittenLine(QStringLiteral("program"), code);
    if (code == job_messages::kCodePortLost)
        return QStringLiteral("the serial port failed during the run (the adapter was unplugged or its driver "
                              "reported an error); nothing was written; check the connection and run it again "
                              "(%1)")
            .arg(code);
    if (code == job_messages::kCodeBackupNotSaved)
        return QStringLiteral("the backup could not be saved; nothing written (%1)").arg(code);
    return QStringLiteral("%1 (%2)").arg(result.text).arg(code);
}

QString partlyWrittenLine(const QString& command, int code) {
    return QStringLiteral("the station was partly written: the link broke off between the first write and the "
                          "restart; keep it connected and run %1 again, which completes it (%2)")
        .arg(command)
        .arg(code);
}

QString systemCodeAckLostNote(std::uint8_t systemCode) {
    return QStringLiteral("rechannel-cli: the acknowledgement of the system-code write was lost; 0xC004 read back "
                          "%1, so the write took and the station was restarted")
        .arg(hexDigits(systemCode, 2));
}

QStringList stationLines(int stationAddress, const QString& backupPath) {
    return {QStringLiteral("station address: %1").arg(stationAddress),
            QStringLiteral("backup: %1").arg(backupPath.isEmpty() ? QStringLiteral("no backup") : backupPath)};
}

QString originalNotKeptLine(const QString& why, const QString& backupPath) {
    return QStringLiteral("rechannel-cli: the station's original could not be kept (%1); the run went on with its "
                          "backup %2. restore without a FILE will not find an original: give it that backup.")
        .arg(why, backupPath);
}
