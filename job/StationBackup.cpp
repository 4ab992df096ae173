#include "StationBackup.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "LogDirectory.h"

namespace {
constexpr int kMaxBackupsPerSecond = 100;
constexpr std::uint8_t kUnmovedSystem = 0x9E;
constexpr std::uint16_t kTargetChannel = 1902;
constexpr int kChannel0Offset = 0x0C;
constexpr int kSystemOffset = 0x04;

QString backupsDirectory() { return logDirectoryPath() + QStringLiteral("/backups"); }

bool fail(QString* error, const QString& why) {
    if (error) *error = why;
    return false;
}

// The log directory belongs to start-up; only its backups folder is made here.
bool ensureBackupsDirectory(QString* error) {
    QDir logDir(logDirectoryPath());
    if (!logDir.exists()) return fail(error, QStringLiteral("%1 does not exist").arg(logDirectoryPath()));
    // mkpath, not mkdir: parallel runs on a fresh log directory all make it,
    // and an existing folder is success for each of them.
    if (!logDir.mkpath(QStringLiteral("backups")))
        return fail(error, QStringLiteral("cannot create %1").arg(backupsDirectory()));
    return true;
}

bool writeWhole(QFile& file, const std::uint8_t* block256) {
    return file.write(reinterpret_cast<const char*>(block256), kParamBlockSize) == kParamBlockSize && file.flush();
}

// The first copy of an unmoved block wins and is never replaced: the copy
// goes to a temporary file first and is renamed into place, and that rename
// never replaces an existing file.
void keepOriginal(const QString& backupPath, std::uint16_t address) {
    const QString path = originalBackupPath(address);
    if (QFileInfo::exists(path)) return;
    if (!QDir().mkpath(QFileInfo(path).path())) return;
    QFile::copy(backupPath, path);   // fails when another run got there first: theirs stays
}

}  // namespace

QString backupFilePath(const QDateTime& when, std::uint16_t address, std::uint8_t system) {
    return backupsDirectory() + QLatin1Char('/') + when.toString(QStringLiteral("yyMMdd-hhmmss")) +
           QStringLiteral("_%1_%2.bin").arg(address).arg(system);
}

QString originalBackupPath(std::uint16_t address) {
    return backupsDirectory() + QStringLiteral("/originals/%1.bin").arg(address);
}

bool isUnmovedBlock(const std::uint8_t* block256) {
    const auto channel0 = static_cast<std::uint16_t>(block256[kChannel0Offset] | (block256[kChannel0Offset + 1] << 8));
    return block256[kSystemOffset] == kUnmovedSystem && channel0 != kTargetChannel;
}

QString saveStationBackup(const std::uint8_t* block256, const QDateTime& when, QString* error) {
    if (!ensureBackupsDirectory(error)) return QString();
    // Names go to the second; the exclusive create, not a look beforehand,
    // decides which name a run gets, so two runs never share one.
    const QString first = backupFilePath(when, blockAddress(block256), block256[kSystemOffset]);
    for (int n = 1; n <= kMaxBackupsPerSecond; ++n) {
        const QString path = n == 1 ? first : first.chopped(4) + QStringLiteral("-%1.bin").arg(n);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            if (QFileInfo::exists(path)) continue;
            fail(error, QStringLiteral("cannot create %1: %2").arg(path, file.errorString()));
            return QString();
        }
        if (!writeWhole(file, block256)) {
            fail(error, QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
            file.remove();
            return QString();
        }
        file.close();
        if (isUnmovedBlock(block256)) keepOriginal(path, blockAddress(block256));
        return path;
    }
    fail(error, QStringLiteral("too many backups of station %1 in one second").arg(blockAddress(block256)));
    return QString();
}
