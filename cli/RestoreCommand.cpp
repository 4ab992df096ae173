// restore: puts back, from a backup the job saved (by default the station's
// original), the three regions that moving a station rewrites, then restarts
// the station. What is on the station is backed up first. A backup whose
// other bytes are not the station's is another station's and is refused.
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <vector>

#include "ChangedRegions.h"
#include "CliOutput.h"
#include "Commands.h"
#include "InterruptGuard.h"
#include "JobMessages.h"
#include "LogDirectory.h"
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
                                   QStringLiteral("Write a backup whose system code is not 0x9E, or whose "
                                                  "bytes outside the restored regions are not the station's."));
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

constexpr int kDifferencesShown = 8;

// The lines that name the bytes of `saved` outside the rewritten regions that
// are not what the station holds.
QStringList differenceLines(const QString& fileName, const std::vector<int>& offsets, const std::uint8_t* saved,
                            const std::uint8_t* present) {
    const int count = static_cast<int>(offsets.size());
    QStringList lines{QStringLiteral("rechannel-cli: %1 is not a backup of this station: %2 byte(s) outside the "
                                     "channel table, channel block 0 and system code differ from the station's:")
                          .arg(fileName)
                          .arg(count)};
    const auto hex = [](std::uint8_t byte) {
        return QStringLiteral("%1").arg(byte, 2, 16, QLatin1Char('0')).toUpper();
    };
    for (int i = 0; i < count && i < kDifferencesShown; ++i) {
        const int offset = offsets[static_cast<std::size_t>(i)];
        lines << QStringLiteral("  0x%1: %2 on the station, %3 in the backup")
                     .arg(QString::number(kParamBlockAddress + offset, 16).toUpper(), hex(present[offset]),
                          hex(saved[offset]));
    }
    if (count > kDifferencesShown) lines << QStringLiteral("  and %1 more").arg(count - kDifferencesShown);
    return lines;
}

// Why this backup must not go on this station: the outcome line (empty when
// nothing stands against it), after the lines in *explanation.
QString refusal(const RestoreOptions& options, const QString& fileName, const std::uint8_t* saved,
                const std::uint8_t* present, QStringList* explanation) {
    if (blockAddress(saved) != blockAddress(present))
        return QStringLiteral("not restored: %1 is the backup of station %2, but the station on the port is %3; "
                              "nothing written")
            .arg(fileName)
            .arg(blockAddress(saved))
            .arg(blockAddress(present));
    if (options.force) return QString();
    QStringList reasons;
    // Addresses repeat across fleets, and so do the originals kept by address.
    const std::vector<int> foreign = untouchedDifferences(saved, present);
    if (!foreign.empty()) {
        *explanation << differenceLines(fileName, foreign, saved, present);
        reasons << QStringLiteral("is not a backup of this station (%1 byte(s) differ)")
                       .arg(static_cast<int>(foreign.size()));
    }
    // A block of another system (an all-zero file, a moved station's backup)
    // would take the station off its network.
    if (saved[kSystemCodeRegion.offset()] != kUnmovedSystem)
        reasons << QStringLiteral("holds system code %1, not 158 (0x9E)").arg(saved[kSystemCodeRegion.offset()]);
    if (reasons.isEmpty()) return QString();
    return QStringLiteral("not restored: %1 %2; nothing written. Give --force to write it anyway")
        .arg(fileName, reasons.join(QStringLiteral(" and ")));
}

// The end of every run that read the station: what explains the outcome,
// the station lines, then the outcome line.
int endRun(StationConnection& connection, int address, const QString& backupPath, const QStringList& explanation,
           const QString& outcome, int status) {
    connection.close();
    for (const QString& line : explanation) printErr(line);
    for (const QString& line : stationLines(address, backupPath)) printErr(line);
    printErr(outcome);
    return status;
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
    QString fileName = options.fileName;
    try {
        readWholeBlock(connection, present);
        address = blockAddress(present);
        if (fileName.isEmpty()) {
            int othersKept = 0;
            fileName = originalBackupFor(present, &othersKept);
            if (fileName.isEmpty()) {
                QStringList explanation;
                if (othersKept > 0)
                    explanation << QStringLiteral("rechannel-cli: the %1 original(s) kept for address %2 are of other "
                                                  "stations with that address (their setup differs)")
                                       .arg(othersKept)
                                       .arg(address);
                return endRun(connection, address, backupPath, explanation,
                              QStringLiteral("not restored: no original backup of station %1 in %2; give a backup "
                                             "FILE; nothing written")
                                  .arg(address)
                                  .arg(QFileInfo(originalBackupPath(blockAddress(present))).path()),
                              exit_status::usage);
            }
            if (!loadBackup(fileName, &block))
                return endRun(connection, address, backupPath, {},
                              QStringLiteral("not restored: the original backup of station %1 cannot be used; "
                                             "nothing written")
                                  .arg(address),
                              exit_status::usage);
        }
        const auto* saved = reinterpret_cast<const std::uint8_t*>(block.constData());
        QStringList explanation;
        const QString why = refusal(options, fileName, saved, present, &explanation);
        if (!why.isEmpty()) return endRun(connection, address, backupPath, explanation, why, exit_status::usage);
        if (options.backup) {
            QString error;
            backupPath = saveStationBackup(present, QDateTime::currentDateTime(), &error);
            if (backupPath.isEmpty())
                return endRun(connection, address, backupPath,
                              {QStringLiteral("rechannel-cli: %1; nothing was written. Run again with --no-backup "
                                              "to write without a backup.")
                                   .arg(error)},
                              QStringLiteral("not restored: the station's present block could not be backed up; "
                                             "nothing written"),
                              exit_status::otherFailure);
        }
        if (!interrupt_guard::enterWritePhase()) return exit_status::interrupted;
        restoreStation(connection, saved);
        interrupt_guard::leaveWritePhase();
    } catch (int code) {
        interrupt_guard::leaveWritePhase();
        if (code == job_messages::kCodeRestartNotSent)
            return endRun(connection, address, backupPath, {},
                          JobOutcome{false, true, job_messages::noAnswer(), code}.outcomeLine(),
                          exit_status::otherFailure);
        if (address < 0) {   // the station's block was never read
            connection.close();
            printErr(noAnswerLine(code));
            return exit_status::noProperAnswer;
        }
        // Written partly or not at all: the operator needs the copy of what was there.
        return endRun(connection, address, backupPath, {}, noAnswerLine(code), exit_status::noProperAnswer);
    }
    return endRun(connection, address, backupPath, {},
                  QStringLiteral("restored channel table, channel block 0 and system code %1 from %2; station restarted")
                      .arg(static_cast<std::uint8_t>(block[kSystemCodeRegion.offset()]))
                      .arg(fileName),
                  exit_status::moved);
}
