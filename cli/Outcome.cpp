#include "Outcome.h"

#include <QStringList>

#include "JobMessages.h"
#include "ReadBack.h"

QString outcomeLine(const RunResult& result) {
    const int code = result.code;
    if (result.outcome == RunOutcome::Moved) return job_messages::moved();
    if (!result.reported()) return job_messages::unknownError();
    // A code's own line says more than a partly-written run's, unless it says
    // nothing was written (the backup's, a port lost before the writes).
    const job_messages::CodeRow row = job_messages::codeRow(code);
    if (row.cliLine && !row.saysNothingWritten) return QString::fromUtf8(row.cliLine).arg(code);
    if (result.partlyWritten) return partlyWrittenLine(QStringLiteral("program"), code);
    if (row.cliLine) return QString::fromUtf8(row.cliLine).arg(code);
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
