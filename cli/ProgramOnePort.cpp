#include "ProgramOnePort.h"

#include <memory>
#include <mutex>
#include <optional>

#include "BuiltInStation.h"
#include "ChildReport.h"
#include "CliOutput.h"
#include "InterruptGuard.h"
#include "JobMessages.h"
#include "LogDirectory.h"
#include "MoveTarget.h"
#include "Outcome.h"
#include "PortArgument.h"
#include "PortNames.h"
#include "PortOpenDiagnosis.h"
#include "RunLedger.h"
#include "StationConnection.h"
#include "StationMemory.h"
#include "StationProbe.h"
#include "StationRecord.h"
#include "WireTrace.h"
#include "WorkThread.h"

namespace {

// The backup the run saved before its first write. An interrupt that ends
// the run records it from the watcher thread while the job thread may still
// be running, so it is handed over under a lock.
class SavedBackup {
public:
    void set(const QString& path) {
        std::lock_guard<std::mutex> lock(mutex_);
        path_ = path;
    }
    QString get() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return path_;
    }

private:
    mutable std::mutex mutex_;
    QString path_;
};

// Verify and backup policy, and the interrupt guard on the job's phases.
void configureJob(WorkThread& thread, const ProgramOptions& options) {
    thread.setPortPath(options.devicePath);
    thread.setVerifyWrites(options.verify);
    thread.setBackupPolicy(options.backup ? BackupPolicy::Required : BackupPolicy::Off);
    // Every run of the command line (and so every run of a fleet) records
    // where the station stood in the mesh.
    thread.setReadPlace(true);
    // From the first write to the restart an interrupt must not leave the
    // station half-moved; the guard defers it and the run goes on.
    thread.setPhaseObserver([](JobPhase phase) {
        if (phase == JobPhase::Writing && !interrupt_guard::enterWritePhase())
            throw job_messages::kCodeStopped;   // the process is ending; write nothing
        if (phase == JobPhase::Done) interrupt_guard::leaveWritePhase();
    });
}

// The report lines a fleet child prints for its runner while it lives: each
// phase, and the station's address as soon as the block head has been read.
void reportPhases(WorkThread& thread) {
    // The run's own observer (the interrupt guard) comes first: it may end
    // the run before the write, and then no "writing" line must be seen.
    thread.setPhaseObserver([guard = thread.phaseObserver()](JobPhase phase) {
        if (guard) guard(phase);
        if (phase == JobPhase::Done) return;
        printErr(QString::fromUtf8(child_report::phaseLine(phase)));
    });
    // Again when the head is read again: the later address is the station's.
    thread.setAddressObserver(
        [](int address) { printErr(QString::fromUtf8(child_report::addressLine(address))); });
}

// The ledger line just written and the result line from it, for the fleet
// runner.
void printResultLine(const RunLedger& ledger, RunOutcome outcome) {
    const LedgerEntry& entry = ledger.lastEntry();
    const QByteArray line = child_report::ledgerLine(entry);
    if (!line.isEmpty()) printErr(QString::fromUtf8(line));
    printErr(QString::fromUtf8(child_report::resultLine(entry.address, outcome, entry.backup, entry.verified)));
}

// Appends the run's ledger line (saying on standard error when it cannot)
// and, with `report`, the result line for the fleet runner.
void logProgramRun(RunLedger& ledger, const WorkThread& thread, bool report) {
    const QString error = ledger.finish(thread, thread.result());
    if (!error.isEmpty()) printErr(error);
    if (report) printResultLine(ledger, thread.result().outcome);
}

// The same for a run an interrupt ends before its first write, naming the
// backup it had already saved (empty when none) on standard error too.
void logInterruptedRun(RunLedger& ledger, const WorkThread& thread, const QString& backup, bool report) {
    const QString error = ledger.finishInterrupted(job_messages::kCodeStopped, thread.stationAddress(), backup);
    if (!error.isEmpty()) printErr(error);
    if (!backup.isEmpty()) printErr(QStringLiteral("backup: %1").arg(backup));
    if (report) printResultLine(ledger, RunOutcome::Interrupted);
}

// Everything after the trace: why the port did not open, the read-back
// differences, why no backup could be saved, then (for a run that reached
// the station) its address and backup, and last the outcome line. For the
// fleet runner (`report`) the address and backup are in the result line
// already, and the outcome line is a report line.
void printRunReport(const WorkThread& thread, const std::wstring& devicePath, bool report) {
    const RunResult& outcome = thread.result();
    if (outcome.code == job_messages::kCodePortNotOpened)
        printErr(explainPortOpenFailure(devicePath));
    for (const QString& mismatch : thread.verifyMismatches()) printErr(mismatch);
    if (outcome.code == job_messages::kCodeBackupNotSaved)
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
        printErr(QString::fromUtf8(child_report::outcomeLine(outcomeLine(outcome))));
        return;
    }
    if (thread.stationAddress() >= 0)
        for (const QString& line : stationLines(thread.stationAddress(), thread.backupPath())) printErr(line);
    for (const QString& note : notes) printErr(note);
    printErr(outcomeLine(outcome));
}

// The simulated station's port, or the device the port argument names;
// -1 to go on, otherwise the exit status to return at once.
int openTarget(ProgramOptions& options, std::unique_ptr<BuiltInStation>& station) {
    if (options.simulate) {
        int refused = 0;
        station = startBuiltInStation(&refused);
        if (!station) return refused;
        options.devicePath = station->portPath();
        return -1;
    }
    NamedPort named;
    const int resolved = resolvePortArgument(QString::fromStdWString(options.devicePath), &named);
    if (resolved >= 0) return resolved;
    options.devicePath = named.devicePath;
    return -1;
}

}  // namespace

int runOnePort(ProgramOptions options) {
    std::unique_ptr<BuiltInStation> station;
    const int early = openTarget(options, station);
    if (early >= 0) return early;

    WorkThread thread;
    configureJob(thread, options);
    WireTrace trace;
    std::optional<QuickEditOff> quickEditOff;
    if (options.wireTrace) {
        thread.connection().serialPort().setWireObserver(trace.observer());
        quickEditOff.emplace();
    }
    if (options.reportPhases) reportPhases(thread);

    SavedBackup saved;
    // Called on the job thread right after the backup was saved.
    thread.setBeforeFirstWrite([&saved, &thread](const std::uint8_t*) { saved.set(thread.backupPath()); });
    RunLedger ledger;
    ledger.begin(QString::fromStdWString(shownPortName(options.devicePath)));
    // An interrupted run's line names what the station was on: from this
    // run's head, handed over on the job thread right after it was read.
    thread.setAddressObserver([&ledger, shown = thread.addressObserver()](int address) {
        if (const StationRecord* record = StationRecord::instance()) ledger.noteHead(record->params().data());
        if (shown) shown(address);
    });
    interrupt_guard::setBeforeExit([&ledger, &thread, &saved, &options] {
        logInterruptedRun(ledger, thread, saved.get(), options.reportPhases);
    });
    interrupt_guard::install();
    // The outcome is recorded on the worker thread and read here only after
    // wait(), so no event loop is needed.
    thread.start();
    thread.wait();
    // An interrupt before the first write may have ended the run itself (the
    // guard refuses the write): it is recorded and ends as interrupted. One
    // after the run has ended changes nothing: the run is recorded as it ended.
    if (!interrupt_guard::closeRun()) interrupt_guard::exitInterrupted();
    trace.flush();
    logProgramRun(ledger, thread, options.reportPhases);   // on disk before the outcome is reported
    interrupt_guard::runRecorded();
    printRunReport(thread, options.devicePath, options.reportPhases);
    return exitStatusOf(thread.result().outcome);
}

int runProbe(const QString& port) {
    const ProbeAnswer answer = probeStation(port);
    if (!answer.opened) return exit_status::portNotOpened;
    if (!answer.address) return exit_status::noProperAnswer;
    printErr(QString::fromUtf8(child_report::addressLine(*answer.address)));
    return 0;
}
