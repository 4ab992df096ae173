#include "StationBackup.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "LogDirectory.h"
#include "MoveTarget.h"
#include "StationRestore.h"

namespace {
constexpr int kMaxBackupsPerSecond = 100;
constexpr int kMaxOriginalsPerAddress = 100;

QString backupsDirectory() { return logDirectoryPath() + QStringLiteral("/backups"); }

bool fail(QString* error, const QString& why) {
    if (error) *error = why;
    return false;
}

// The log directory belongs to start-up; only its backups folder is made here.
bool ensureBackupsDirectory(QString* error) {
    if (!homeDirectoryKnown())
        return fail(error,
                    QStringLiteral("there is no home directory (%1 is not set) to keep it in").arg(homeVariable()));
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

QString originalPath(std::uint16_t address, int n) {
    const QString first = originalBackupPath(address);
    return n == 1 ? first : first.chopped(4) + QStringLiteral("-%1.bin").arg(n);
}

// The block in a kept original, when it is one of the same station as
// block256: the same address and the same setup outside what a move
// rewrites.
bool isOriginalOf(const QString& path, const std::uint8_t* block256) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return false;
    const QByteArray kept = file.read(kParamBlockSize + 1);
    if (kept.size() != kParamBlockSize) return false;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(kept.constData());
    return blockAddress(bytes) == blockAddress(block256) && untouchedDifferences(bytes, block256).empty();
}

// The first copy of an unmoved block wins and is never replaced. Addresses
// repeat across fleets (and a simulated station has one too), so a station
// whose address already has an original of another station gets the next
// free "<address>-N.bin". QFile::copy never replaces an existing file: of two
// runs racing for one name, the loser looks at the winner's copy again.
// Returns why no original could be kept, or an empty text.
QString keepOriginal(const QString& backupPath, const std::uint8_t* block256) {
    const std::uint16_t address = blockAddress(block256);
    const QString directory = QFileInfo(originalBackupPath(address)).path();
    if (!QDir().mkpath(directory)) return QStringLiteral("cannot create %1").arg(directory);
    for (int n = 1; n <= kMaxOriginalsPerAddress; ++n) {
        const QString path = originalPath(address, n);
        for (int look = 0; look < 2; ++look) {
            if (QFileInfo::exists(path)) {
                if (isOriginalOf(path, block256)) return QString();
                break;   // another station's: the next name
            }
            QFile backup(backupPath);
            if (backup.copy(path)) return QString();
            if (!QFileInfo::exists(path)) return QStringLiteral("cannot write %1: %2").arg(path, backup.errorString());
        }
    }
    return QStringLiteral("%1 originals of other stations with address %2 are kept already")
        .arg(kMaxOriginalsPerAddress)
        .arg(address);
}

}  // namespace

QString backupFilePath(const QDateTime& when, std::uint16_t address, std::uint8_t system) {
    return backupsDirectory() + QLatin1Char('/') + when.toString(QStringLiteral("yyMMdd-hhmmss")) +
           QStringLiteral("_%1_%2.bin").arg(address).arg(system);
}

QString originalBackupPath(std::uint16_t address) {
    return backupsDirectory() + QStringLiteral("/originals/%1.bin").arg(address);
}

QString originalBackupFor(const std::uint8_t* block256, int* othersKept) {
    if (othersKept) *othersKept = 0;
    const std::uint16_t address = blockAddress(block256);
    for (int n = 1; n <= kMaxOriginalsPerAddress; ++n) {
        const QString path = originalPath(address, n);
        if (!QFileInfo::exists(path)) break;
        if (isOriginalOf(path, block256)) return path;
        if (othersKept) ++*othersKept;
    }
    return QString();
}

bool isUnmovedBlock(const std::uint8_t* block256) {
    return blockSystemCode(block256) == kSourceSystemCode && blockChannel0(block256) != kTargetChannel;
}

QString saveStationBackup(const std::uint8_t* block256, const QDateTime& when, QString* error,
                          QString* originalError) {
    if (originalError) originalError->clear();
    if (!ensureBackupsDirectory(error)) return QString();
    // Names go to the second; the exclusive create, not a look beforehand,
    // decides which name a run gets, so two runs never share one.
    const QString first = backupFilePath(when, blockAddress(block256), blockSystemCode(block256));
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
        if (isUnmovedBlock(block256)) {
            const QString why = keepOriginal(path, block256);
            if (originalError) *originalError = why;
        }
        return path;
    }
    fail(error, QStringLiteral("too many backups of station %1 in one second").arg(blockAddress(block256)));
    return QString();
}
