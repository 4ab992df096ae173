// restore: puts back, from a backup the job saved (by default the station's
// original), the three regions that moving a station rewrites, then restarts
// the station. What is on the station is backed up first.
#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include "ChangedRegions.h"
#include "CliOutput.h"
#include "Commands.h"
#include "InterruptGuard.h"
#include "Outcome.h"
#include "StationBackup.h"
#include "StationConnection.h"
#include "StationRestore.h"
#include "StationSession.h"

namespace {

constexpr std::uint8_t kUnmovedSystem = 0x9E;

struct RestoreOptions {
    std::wstring devicePath;
    QString fileName;   // empty: the station's original
    bool force = false;
    bool backup = true;
};

int parseRestoreOptions(const QStringList& args, RestoreOptions* options) {
    QCommandLineParser parser;
    const QCommandLineOption port(QStringLiteral("port"), QStringLiteral("Serial device of the station."),
                                  QStringLiteral("PATH"));
    const QCommandLineOption force(QStringLiteral("force"),
                                   QStringLiteral("Write a backup whose system code is not 0x9E."));
    const QCommandLineOption noBackup(QStringLiteral("no-backup"),
                                      QStringLiteral("Write even when the station's present block cannot be saved."));
    parser.addOptions({port, force, noBackup});
    parser.addPositionalArgument(QStringLiteral("[FILE]"),
                                 QStringLiteral("A 256-byte backup from QuelvintLog/backups; without it the "
                                                "original of the station on the port."));
    const int early = parseCommandLine(parser, args, QStringLiteral("Writes a backup's channel settings back."));
    if (early >= 0) return early;
    int status = 0;
    if (!requirePort(parser, port, &options->devicePath, &status)) return status;
    if (parser.positionalArguments().size() > 1) return usageError(parser, QStringLiteral("give at most one backup FILE"));
    options->fileName = parser.positionalArguments().value(0);
    options->force = parser.isSet(force);
    options->backup = !parser.isSet(noBackup);
    return -1;
}

// Exactly one 256-byte block, or a message and false.
bool loadBackup(const QString& fileName, QByteArray* block) {
    // A FIFO would hold the open until a writer came; a device has no end.
    const QFileInfo info(fileName);
    if (info.exists() && !info.isFile()) {
        printErr(QStringLiteral("rechannel-cli: %1 is not a station backup (not a regular file)").arg(fileName));
        return false;
    }
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        printErr(QStringLiteral("rechannel-cli: cannot read %1").arg(fileName));
        return false;
    }
    // Read one byte more than a block so a longer file is caught too.
    *block = file.read(kParamBlockSize + 1);
    if (block->size() == kParamBlockSize) return true;
    printErr(QStringLiteral("rechannel-cli: %1 is not a station backup (%2 bytes, expected %3)")
                 .arg(fileName)
                 .arg(file.size())
                 .arg(kParamBlockSize));
    return false;
}

// Why this backup must not go on this station, or an empty string.
QString refusal(const QString& fileName, const std::uint8_t* saved, const std::uint8_t* present, bool force) {
    if (blockAddress(saved) != blockAddress(present))
        return QStringLiteral("%1 is the backup of station %2, but the station on the port is %3; nothing written")
            .arg(fileName)
            .arg(blockAddress(saved))
            .arg(blockAddress(present));
    // A block of another system (an all-zero file, a moved station's backup)
    // would take the station off its network.
    if (saved[kSystemCodeRegion.offset()] != kUnmovedSystem && !force)
        return QStringLiteral("%1 holds system code %2, not 158 (0x9E); nothing written. Give --force to write it anyway")
            .arg(fileName)
            .arg(saved[kSystemCodeRegion.offset()]);
    return QString();
}

}  // namespace

int runRestore(const QStringList& args) {
    RestoreOptions options;
    const int early = parseRestoreOptions(args, &options);
    if (early >= 0) return early;
    QByteArray block;
    if (!options.fileName.isEmpty() && !loadBackup(options.fileName, &block)) return exit_status::usage;
    interrupt_guard::install();

    StationConnection connection;
    if (!openStationPort(connection, options.devicePath)) return exit_status::portNotOpened;
    std::uint8_t present[kParamBlockSize] = {};
    QString backupPath;
    int address = -1;   // known once the station's block has been read
    try {
        readWholeBlock(connection, present);
        address = blockAddress(present);
        if (options.fileName.isEmpty()) {
            options.fileName = originalBackupPath(blockAddress(present));
            if (!QFile::exists(options.fileName)) {
                connection.close();
                printErr(QStringLiteral("rechannel-cli: no original backup of station %1 (%2); give a backup FILE; "
                                        "nothing written")
                             .arg(address)
                             .arg(options.fileName));
                return exit_status::usage;
            }
            if (!loadBackup(options.fileName, &block)) return exit_status::usage;
        }
        const auto* saved = reinterpret_cast<const std::uint8_t*>(block.constData());
        const QString why = refusal(options.fileName, saved, present, options.force);
        if (!why.isEmpty()) {
            connection.close();
            printErr(QStringLiteral("rechannel-cli: %1").arg(why));
            return exit_status::usage;
        }
        if (options.backup) {
            QString error;
            backupPath = saveStationBackup(present, QDateTime::currentDateTime(), &error);
            if (backupPath.isEmpty()) {
                connection.close();
                printErr(QStringLiteral("rechannel-cli: %1; nothing was written. Run again with --no-backup to "
                                        "write without a backup.")
                             .arg(error));
                return exit_status::otherFailure;
            }
        }
        if (!interrupt_guard::enterWritePhase()) return exit_status::interrupted;
        restoreStation(connection, saved);
        interrupt_guard::leaveWritePhase();
    } catch (int code) {
        interrupt_guard::leaveWritePhase();
        connection.close();
        // Written partly or not at all: the operator needs the copy of what was there.
        if (address >= 0)
            for (const QString& line : stationLines(address, backupPath)) printErr(line);
        printErr(noAnswerLine(code));
        return exit_status::noProperAnswer;
    }
    connection.close();
    for (const QString& line : stationLines(blockAddress(present), backupPath)) printErr(line);
    printErr(QStringLiteral("restored channel table, channel block 0 and system code %1 from %2; station restarted")
                 .arg(static_cast<std::uint8_t>(block[kSystemCodeRegion.offset()]))
                 .arg(options.fileName));
    return exit_status::moved;
}
