#include "ProgramReport.h"

#include "ChildReport.h"
#include "CliOutput.h"
#include "InterruptGuard.h"
#include "JobMessages.h"
#include "LogDirectory.h"
#include "PortOpenDiagnosis.h"
#include "StationMemory.h"
#include "WorkThread.h"

void configureJob(WorkThread& thread, const ProgramOptions& options) {
    thread.setPortPath(options.devicePath);
    thread.setVerifyWrites(options.verify);
    thread.setBackupPolicy(options.backup ? BackupPolicy::Required : BackupPolicy::Off);
    // From the first write to the restart an interrupt must not leave the
    // station half-moved; the guard defers it and the run goes on.
    thread.setPhaseObserver([](JobPhase phase) {
        if (phase == JobPhase::Writing && !interrupt_guard::enterWritePhase())
            throw job_messages::kCodeForeignOrUnknown;   // the process is ending; write nothing
        if (phase == JobPhase::Done) interrupt_guard::leaveWritePhase();
    });
}

void printRunReport(const WorkThread& thread, const JobOutcome& outcome, const std::wstring& devicePath, bool report) {
    if (outcome.hasError && outcome.code == job_messages::kCodePortNotOpened)
        printErr(explainPortOpenFailure(devicePath));
    for (const QString& mismatch : thread.verifyMismatches()) printErr(mismatch);
    if (outcome.hasError && outcome.code == job_messages::kCodeBackupNotSaved)
        printErr(QStringLiteral("rechannel-cli: %1; nothing was written. Make %2 writable, or run again with "
                                "--no-backup to write without a backup.")
                     .arg(thread.backupError(), logDirectoryPath()));
    if (!thread.originalError().isEmpty()) printErr(originalNotKeptLine(thread.originalError(), thread.backupPath()));
    // Said just before the outcome line, which keeps the window's text.
    QStringList notes;
    if (!thread.unsupportedReason().isEmpty())
        notes << QStringLiteral("rechannel-cli: unsupported station: %1").arg(thread.unsupportedReason());
    if (thread.systemCodeAckLost())
        notes << systemCodeAckLostNote(kTargetSystemCode);
    if (report) {
        for (const QString& note : notes) printErr(note);
        printErr(QString::fromUtf8(child_report::outcomeLine(outcome.outcomeLine())));
        return;
    }
    if (thread.stationAddress() >= 0)
        for (const QString& line : stationLines(thread.stationAddress(), thread.backupPath())) printErr(line);
    for (const QString& note : notes) printErr(note);
    printErr(outcome.outcomeLine());
}

QString originalNotKeptLine(const QString& why, const QString& backupPath) {
    return QStringLiteral("rechannel-cli: the station's original could not be kept (%1); the run went on with its "
                          "backup %2. restore without a FILE will not find an original: give it that backup.")
        .arg(why, backupPath);
}
