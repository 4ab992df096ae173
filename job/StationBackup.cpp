#include "StationBackup.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

#include "LogDirectory.h"

namespace {
constexpr int kMaxBackupsPerSecond = 100;
}

QString backupFilePath(const QDateTime& when, std::uint16_t address, std::uint8_t system) {
    return logDirectoryPath() + QStringLiteral("/backups/") + when.toString(QStringLiteral("yyMMdd-hhmmss")) +
           QStringLiteral("_%1_%2.bin").arg(address).arg(system);
}

QString saveStationBackup(const std::uint8_t* block256, const QDateTime& when) {
    const std::uint16_t address = blockAddress(block256);
    const std::uint8_t system = block256[4];
    // The log directory belongs to start-up; only its backups folder is made here.
    QDir logDir(logDirectoryPath());
    if (!logDir.exists() || (!logDir.exists(QStringLiteral("backups")) && !logDir.mkdir(QStringLiteral("backups"))))
        return QString();
    // Names go to the second: a second run within it (a failed write retried
    // at once by a script) must not replace the first, untouched, block.
    const QString first = backupFilePath(when, address, system);
    QString path = first;
    for (int n = 2; QFileInfo::exists(path); ++n) {
        if (n > kMaxBackupsPerSecond) return QString();
        path = first.chopped(4) + QStringLiteral("-%1.bin").arg(n);
    }

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return QString();
    const char* bytes = reinterpret_cast<const char*>(block256);
    if (file.write(bytes, kParamBlockSize) != kParamBlockSize) {
        file.cancelWriting();
        return QString();
    }
    return file.commit() ? path : QString();
}
