// program: the window's job (the same WorkThread and run) with the read-back
// check and a required backup, the trace on standard output and the outcome
// as the last line of standard error.
#include <memory>
#include <mutex>

#include "BuiltInStation.h"
#include "CliOutput.h"
#include "Commands.h"
#include "FleetCommand.h"
#include "InterruptGuard.h"
#include "Outcome.h"
#include "PortArgument.h"
#include "ProgramReport.h"
#include "RunLedger.h"
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

JobOutcome runJob(WorkThread& thread) {
    JobOutcome outcome;
    // Direct connections: the outcome is recorded on the worker thread and
    // read here only after wait(), so no event loop is needed.
    QObject::connect(&thread, &WorkThread::onReadStationParam, &thread, [&outcome] { outcome.moved = true; },
                     Qt::DirectConnection);
    QObject::connect(
        &thread, &WorkThread::onErr, &thread,
        [&outcome](const QString& text, int code) {
            outcome.hasError = true;
            outcome.text = text;
            outcome.code = code;
        },
        Qt::DirectConnection);
    thread.start();
    thread.wait();
    outcome.verify = thread.verifyResult();
    return outcome;
}

// Parses the options of `program`; returns -1 to go on with one port,
// otherwise the exit status to return at once (after --help or a usage
// error, or of the fleet run or probe the arguments asked for).
int parseProgramOptions(const QStringList& args, ProgramOptions* options, bool* simulate) {
    QCommandLineParser parser;
    const QCommandLineOption port(QStringLiteral("port"),
                                  QStringLiteral("Serial device of the station: a path, a node name (ttyUSB0) or a "
                                                 "name as 'ports' lists it. Repeat it to program several ports at once."),
                                  QStringLiteral("PORT"));
    const QCommandLineOption simulated(QStringLiteral("simulate"),
                                       QStringLiteral("Program the built-in simulated station (no hardware)."));
    const QCommandLineOption verify(QStringLiteral("verify"),
                                    QStringLiteral("Read the writes back (the default; kept for old scripts)."));
    const QCommandLineOption noVerify(QStringLiteral("no-verify"),
                                      QStringLiteral("Do not read the channel table, block 0 and system code back."));
    const QCommandLineOption noBackup(QStringLiteral("no-backup"),
                                      QStringLiteral("Write even when no backup of the station can be saved."));
    const QCommandLineOption wireTrace(QStringLiteral("wire-trace"),
                                       QStringLiteral("Every frame both ways on standard error."));
    const QCommandLineOption all(QStringLiteral("all"), QStringLiteral("Program every discovered port at once."));
    const QCommandLineOption match(QStringLiteral("match"),
                                   QStringLiteral("With --all: only the ports whose name contains TEXT."),
                                   QStringLiteral("TEXT"));
    const QCommandLineOption wait(QStringLiteral("wait"),
                                  QStringLiteral("Wait for station after station on the ports until interrupted."));
    QCommandLineOption reportPhases(QStringLiteral("report-phases"), QStringLiteral("For the fleet runner."));
    QCommandLineOption probe(QStringLiteral("probe"), QStringLiteral("For the fleet runner."));
    reportPhases.setFlags(QCommandLineOption::HiddenFromHelp);
    probe.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOptions({port, simulated, verify, noVerify, noBackup, wireTrace, all, match, wait, reportPhases, probe});
    const int early = parseCommandLine(parser, args,
                                       QStringLiteral("Moves a 0x9E station to channel 1902, fine offset 2, system 0x3A."));
    if (early >= 0) return early;
    if (!parser.positionalArguments().isEmpty())
        return usageError(parser, QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first()));
    if (parser.isSet(verify) && parser.isSet(noVerify))
        return usageError(parser, QStringLiteral("give at most one of --verify and --no-verify"));
    if (parser.isSet(probe)) return runProbe(parser.value(port));
    FleetArguments fleet{parser.values(port), parser.isSet(all), parser.value(match), parser.isSet(wait), {}};
    if (wantsFleet(fleet) || parser.isSet(match)) {
        if (parser.isSet(simulated) || parser.isSet(wireTrace))
            return usageError(parser, QStringLiteral("--simulate and --wire-trace take one port"));
        if (parser.isSet(noVerify)) fleet.childOptions << QStringLiteral("--no-verify");
        if (parser.isSet(noBackup)) fleet.childOptions << QStringLiteral("--no-backup");
        return runFleetProgram(parser, fleet);
    }
    if (parser.isSet(port) == parser.isSet(simulated))
        return usageError(parser, QStringLiteral("give exactly one of --port PATH and --simulate"));
    if (parser.isSet(port) && parser.value(port).isEmpty())
        return usageError(parser, QStringLiteral("--port PATH is required"));
    options->devicePath = parser.value(port).toStdWString();
    options->verify = !parser.isSet(noVerify);
    options->backup = !parser.isSet(noBackup);
    options->wireTrace = parser.isSet(wireTrace);
    options->reportPhases = parser.isSet(reportPhases);
    *simulate = parser.isSet(simulated);
    return -1;
}

}  // namespace

int runProgram(const QStringList& args) {
    ProgramOptions options;
    bool simulate = false;
    const int early = parseProgramOptions(args, &options, &simulate);
    if (early >= 0) return early;

    std::unique_ptr<BuiltInStation> station;
    if (simulate) {
        int refused = 0;
        station = startBuiltInStation(&refused);
        if (!station) return refused;
        options.devicePath = station->portPath();
    } else {
        NamedPort named;
        const int resolved = resolvePortArgument(QString::fromStdWString(options.devicePath), &named);
        if (resolved >= 0) return resolved;
        options.devicePath = named.devicePath;
    }

    WorkThread thread;
    configureJob(thread, options);
    WireTrace trace;
    if (options.wireTrace) thread.connection().serialPort().setWireObserver(trace.observer());
    if (options.reportPhases) reportPhases(thread);

    SavedBackup saved;
    // Called on the job thread right after the backup was saved.
    thread.setBeforeFirstWrite([&saved, &thread](const std::uint8_t*) { saved.set(thread.backupPath()); });
    RunLedger ledger;
    ledger.begin(QString::fromStdWString(options.devicePath));
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
    const JobOutcome outcome = runJob(thread);
    // An interrupt before the first write may have ended the run itself (the
    // guard refuses the write): it is recorded and ends as interrupted. One
    // after the run has ended changes nothing: the run is recorded as it ended.
    if (!interrupt_guard::closeRun()) interrupt_guard::exitInterrupted();
    trace.flush();
    logProgramRun(ledger, thread, outcome, options.reportPhases);   // on disk before the outcome is reported
    printRunReport(thread, outcome, options.devicePath, options.reportPhases);
    return outcome.exitStatus();
}
