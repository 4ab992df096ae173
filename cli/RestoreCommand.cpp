// restore: puts back, from a backup the job saved (by default the station's
// original), the three regions that moving a station rewrites, reads them
// back as the job does, then restarts the station. What is on the station is
// backed up first. A backup whose other bytes are not the station's is
// another station's and is refused; so is a station of a system the utility
// does not serve. Every run that opened the port leaves its ledger line.
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <mutex>
#include <utility>
#include <vector>

#include "CliOutput.h"
#include "Commands.h"
#include "InterruptGuard.h"
#include "JobMessages.h"
#include "LogDirectory.h"
#include "MoveTarget.h"
#include "Outcome.h"
#include "PortNames.h"
#include "PortOpenDiagnosis.h"
#include "ReadBack.h"
#include "RegularFile.h"
#include "RunLedger.h"
#include "StationBackup.h"
#include "StationConnection.h"
#include "StationMemory.h"
#include "StationRestore.h"
#include "StationSession.h"

namespace {

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
                                                  "bytes outside the restored regions are not the station's "
                                                  "(never onto a station of another system than 0x9E or 0x3A)."));
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
    QFile file;
    QString why;
    const RegularFileOpen opened = openRegularFile(file, fileName, RegularFileMode::Read, &why);
    if (opened == RegularFileOpen::NotRegular) {
        printErr(QStringLiteral("rechannel-cli: %1 is not a station backup (not a regular file)").arg(fileName));
        return false;
    }
    if (opened != RegularFileOpen::Opened) {
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
    for (int i = 0; i < count && i < kDifferencesShown; ++i) {
        const int offset = offsets[static_cast<std::size_t>(i)];
        lines << QStringLiteral("  0x%1: %2 on the station, %3 in the backup")
                     .arg(hexDigits(paramAddress(offset), 4),
                          hexDigits(present[offset], 2), hexDigits(saved[offset], 2));
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
    if (blockSystemCode(saved) != kSourceSystemCode)
        reasons << QStringLiteral("holds system code %1, not 158 (0x9E)").arg(blockSystemCode(saved));
    if (reasons.isEmpty()) return QString();
    return QStringLiteral("not restored: %1 %2; nothing written. Give --force to write it anyway")
        .arg(fileName, reasons.join(QStringLiteral(" and ")));
}

// How a run that opened the port ended: the lines that explain it, the
// outcome line, the exit status and what the ledger says.
struct RestoreEnd {
    RestoreEnd() = default;
    RestoreEnd(QStringList explanationLines, QString outcomeLine, int exitStatus, RunOutcome ledger, int runCode,
               QString verifiedText, QStringList notesBefore = {})
        : explanation(std::move(explanationLines)),
          outcome(std::move(outcomeLine)),
          status(exitStatus),
          ledgerOutcome(ledger),
          code(runCode),
          verified(std::move(verifiedText)),
          notes(std::move(notesBefore)) {}

    QStringList explanation;
    QString outcome;
    int status = exit_status::otherFailure;
    RunOutcome ledgerOutcome = RunOutcome::Failed;
    int code = 0;
    QString verified;   // "yes", "no" or empty, as in the ledger
    QStringList notes;  // just before the outcome line
};

RestoreEnd refusedEnd(const QStringList& explanation, const QString& outcome) {
    return {explanation, outcome, exit_status::usage, RunOutcome::Failed, exit_status::usage, QString()};
}

// Also a port that failed under the run before its first write: said as such.
RestoreEnd noAnswerEnd(int code) {
    if (code == link_codes::kPortLost) {
        const RunResult lost{RunOutcome::PortLost, job_messages::portLost(), job_messages::kCodePortLost, false};
        return {{}, outcomeLine(lost), exit_status::portNotOpened, RunOutcome::PortLost, lost.code, QString()};
    }
    return {{}, noAnswerLine(code), exit_status::noProperAnswer, RunOutcome::NoAnswer, code, QString()};
}

// What the run has learnt of the station so far. An interrupt before the
// first write records the run from its own thread while the run may still be
// reading, so this is handed over under a lock.
class RunSoFar {
public:
    void setBlock(const std::uint8_t* block256) {
        std::lock_guard<std::mutex> lock(mutex_);
        entry_.address = blockAddress(block256);
        entry_.systemBefore = blockSystemCode(block256);
        entry_.channelBefore = blockChannel0(block256);
        entry_.setup = setupFingerprint(block256);
    }
    void setBackup(const QString& path, const QString& error, const QString& originalError) {
        std::lock_guard<std::mutex> lock(mutex_);
        entry_.backup = path;
        entry_.note = backupNote(path, error, originalError);
    }
    // The station's values and the backup; the outcome is the caller's.
    LedgerEntry entry() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return entry_;
    }

private:
    mutable std::mutex mutex_;
    LedgerEntry entry_;
};

// A station of another system is never written: the backup's system code
// would take it off its own network, and --force does not change that.
bool servedSystem(std::uint8_t system) { return system == kSourceSystemCode || system == kTargetSystemCode; }

RestoreEnd otherSystemEnd(std::uint8_t system) {
    const QString code = QStringLiteral("%1 (0x%2)").arg(system).arg(hexDigits(system, 2));
    return {{QStringLiteral("rechannel-cli: the station on the port has system code %1; restore writes only stations "
                            "of system 158 (0x9E) or 58 (0x3A), with or without --force")
                 .arg(code)},
            QStringLiteral("not restored: %1 The station is of system %2; nothing written")
                .arg(job_messages::foreignSystem(), code),
            exit_status::foreignSystem,
            RunOutcome::OtherSystem,
            job_messages::kCodeForeignOrUnknown,
            QString()};
}

// The backup to write: the FILE given, or the original kept for the
// station. False, with the run's end, when there is none to use.
bool chooseBackup(const RestoreOptions& options, const std::uint8_t* present, QByteArray* block, QString* fileName,
                  RestoreEnd* refused) {
    *fileName = options.fileName;
    if (!fileName->isEmpty()) return true;
    const int address = blockAddress(present);
    int othersKept = 0;
    *fileName = originalBackupFor(present, &othersKept);
    if (fileName->isEmpty()) {
        QStringList explanation;
        if (othersKept > 0)
            explanation << QStringLiteral("rechannel-cli: the %1 original(s) kept for address %2 are of other "
                                          "stations with that address (their setup differs)")
                               .arg(othersKept)
                               .arg(address);
        *refused = refusedEnd(explanation, QStringLiteral("not restored: no original backup of station %1 in %2; give "
                                                          "a backup FILE; nothing written")
                                               .arg(address)
                                               .arg(QFileInfo(originalBackupPath(blockAddress(present))).path()));
        return false;
    }
    if (loadBackup(*fileName, block)) return true;
    *refused = refusedEnd({}, QStringLiteral("not restored: the original backup of station %1 cannot be used; "
                                             "nothing written")
                                  .arg(address));
    return false;
}

// Writes the backup's regions, reads them back and restarts the station.
RestoreEnd writeBackup(StationConnection& connection, const std::uint8_t* saved, const QString& fileName) {
    ChangeWritesResult writes;
    const std::uint8_t systemCode = blockSystemCode(saved);
    try {
        restoreStation(connection, saved, &writes);
    } catch (int code) {
        const QString verified = verifiedText(writes.verify);
        // Whatever broke the link, the station holds part of the backup.
        if (writes.partlyWritten)
            return {{}, partlyWrittenLine(QStringLiteral("restore"), code), exit_status::noProperAnswer,
                    RunOutcome::PartlyWritten, code, verified};
        switch (code) {
        case job_messages::kCodeVerifyMismatch:
            return {writes.mismatches,
                    QStringLiteral("verify failed: the station did not keep what was written; it was not restarted; "
                                   "run restore again (%1)")
                        .arg(code),
                    exit_status::verifyFailed, RunOutcome::VerifyFailed, code, verified};
        case job_messages::kCodeSystemCodeUnconfirmed:
            return {{},
                    QStringLiteral("verify failed: the system code could not be read back; the station was "
                                   "restarted; run restore again to check it (%1)")
                        .arg(code),
                    exit_status::verifyFailed, RunOutcome::VerifyFailed, code, verified};
        case job_messages::kCodeRestartNotSent:
            return {writes.mismatches, outcomeLine(RunResult{RunOutcome::Failed, job_messages::noAnswer(), code, false}),
                    exit_status::otherFailure, RunOutcome::Failed, code, verified};
        default:
            return noAnswerEnd(code);
        }
    }
    return {{},
            QStringLiteral("restored channel table, channel block 0 and system code %1 from %2; station restarted")
                .arg(systemCode)
                .arg(fileName),
            exit_status::moved,
            RunOutcome::Restored,
            0,
            verifiedText(writes.verify),
            writes.systemCodeAckLost ? QStringList{systemCodeAckLostNote(systemCode)} : QStringList()};
}

// The station's present block, when it could be read and the station is of
// a system restore serves; otherwise false and the run's end.
bool readPresent(StationConnection& connection, std::uint8_t* present, RunSoFar& soFar, RestoreEnd* end) {
    try {
        readWholeBlock(connection, present);
    } catch (int code) {
        *end = noAnswerEnd(code);
        return false;
    }
    soFar.setBlock(present);
    if (servedSystem(blockSystemCode(present))) return true;
    *end = otherSystemEnd(blockSystemCode(present));
    return false;
}

// What is on the station, saved before anything is written; false, with the
// run's end, when it could not be saved.
bool backUpPresent(const std::uint8_t* present, RunSoFar& soFar, RestoreEnd* end) {
    QString error;
    QString originalError;
    const QString backupPath = saveStationBackup(present, QDateTime::currentDateTime(), &error, &originalError);
    soFar.setBackup(backupPath, error, originalError);
    if (backupPath.isEmpty()) {
        *end = {{QStringLiteral("rechannel-cli: %1; nothing was written. Run again with --no-backup to write "
                                "without a backup.")
                     .arg(error)},
                QStringLiteral("not restored: the station's present block could not be backed up; nothing written"),
                exit_status::otherFailure, RunOutcome::Failed, job_messages::kCodeBackupNotSaved, QString()};
        return false;
    }
    if (!originalError.isEmpty()) printErr(originalNotKeptLine(originalError, backupPath));
    return true;
}

// Everything from the first read to the restart; never throws.
RestoreEnd restoreOnStation(StationConnection& connection, const RestoreOptions& options, QByteArray block,
                            RunSoFar& soFar) {
    std::uint8_t present[kParamBlockSize] = {};
    QString fileName;
    RestoreEnd end;
    if (!readPresent(connection, present, soFar, &end) || !chooseBackup(options, present, &block, &fileName, &end))
        return end;
    const auto* saved = reinterpret_cast<const std::uint8_t*>(block.constData());
    QStringList explanation;
    const QString why = refusal(options, fileName, saved, present, &explanation);
    if (!why.isEmpty()) return refusedEnd(explanation, why);
    if (options.backup && !backUpPresent(present, soFar, &end)) return end;
    if (!interrupt_guard::enterWritePhase()) interrupt_guard::exitInterrupted();
    end = writeBackup(connection, saved, fileName);
    interrupt_guard::leaveWritePhase();
    return end;
}

// The run on the station at the port, or the end of one whose port did not
// open.
RestoreEnd restoreOnPort(const RestoreOptions& options, const QByteArray& block, RunSoFar& soFar) {
    StationConnection connection;
    if (!connection.open(options.devicePath))
        return {{explainPortOpenFailure(options.devicePath)},
                QStringLiteral("%1 (%2)").arg(job_messages::portNotOpened()).arg(job_messages::kCodePortNotOpened),
                exit_status::portNotOpened, RunOutcome::NoPort, job_messages::kCodePortNotOpened, QString()};
    RestoreEnd end = restoreOnStation(connection, options, block, soFar);
    connection.close();
    return end;
}

// The ledger line (on disk before the outcome is said), then what explains
// the outcome, the station lines and the outcome line.
int reportRun(RunLedger& ledger, const RunSoFar& soFar, const RestoreEnd& end) {
    LedgerEntry entry = soFar.entry();
    entry.outcome = QLatin1String(runOutcomeRow(end.ledgerOutcome).name);
    entry.code = end.code;
    entry.verified = end.verified;
    const QString ledgerError = ledger.finishWith(entry);
    interrupt_guard::runRecorded();
    if (!ledgerError.isEmpty()) printErr(ledgerError);
    for (const QString& line : end.explanation) printErr(line);
    if (entry.address) for (const QString& line : stationLines(*entry.address, entry.backup)) printErr(line);
    for (const QString& line : end.notes) printErr(line);
    printErr(end.outcome);
    return end.status;
}

}  // namespace

int runRestore(const QStringList& args) {
    RestoreOptions options;
    const int early = parseRestoreOptions(args, &options);
    if (early >= 0) return early;
    QByteArray block;
    if (!options.fileName.isEmpty() && !loadBackup(options.fileName, &block)) return exit_status::usage;

    RunLedger ledger;
    RunSoFar soFar;
    ledger.begin(QString::fromStdWString(shownPortName(options.devicePath)));
    interrupt_guard::setBeforeExit([&ledger, &soFar] {
        LedgerEntry entry = soFar.entry();
        entry.outcome = QLatin1String(runOutcomeRow(RunOutcome::Interrupted).name);
        entry.code = job_messages::kCodeStopped;
        const QString error = ledger.finishWith(entry);
        if (!error.isEmpty()) printErr(error);
        if (!entry.backup.isEmpty()) printErr(QStringLiteral("backup: %1").arg(entry.backup));
    });
    interrupt_guard::install();

    const RestoreEnd end = restoreOnPort(options, block, soFar);
    // An interrupt before the first write that came first has the run
    // recorded as interrupted; one after the run has ended changes nothing.
    if (!interrupt_guard::closeRun()) interrupt_guard::exitInterrupted();
    return reportRun(ledger, soFar, end);
}
