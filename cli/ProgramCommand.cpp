// program: exactly the window's job (the same WorkThread and run), with the
// trace on standard output and the outcome as the last line of standard error.
#include <memory>

#include "CliOutput.h"
#include "Commands.h"
#include "FleetCommand.h"
#include "JobMessages.h"
#include "Outcome.h"
#include "PortArgument.h"
#include "PortOpenDiagnosis.h"
#include "PtyStationHost.h"
#include "RunLedger.h"
#include "WireTrace.h"
#include "WorkThread.h"

namespace {

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
    return outcome;
}

}  // namespace

int runProgram(const QStringList& args) {
    QCommandLineParser parser;
    const QCommandLineOption port(QStringLiteral("port"),
                                  QStringLiteral("Serial device of the station: a path, a node name (ttyUSB0) or a "
                                                 "name as 'ports' lists it. Repeat it to program several ports at once."),
                                  QStringLiteral("PORT"));
    const QCommandLineOption simulate(QStringLiteral("simulate"),
                                      QStringLiteral("Program the built-in simulated station (no hardware)."));
    const QCommandLineOption verify(QStringLiteral("verify"),
                                    QStringLiteral("Read the written regions back before the restart."));
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
    parser.addOptions({port, simulate, verify, wireTrace, all, match, wait, reportPhases, probe});
    const int early = parseCommandLine(parser, args,
                                       QStringLiteral("Moves a 0x9E station to channel 1902, fine offset 2, system 0x3A."));
    if (early >= 0) return early;
    if (!parser.positionalArguments().isEmpty())
        return usageError(parser, QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first()));
    if (parser.isSet(probe)) return runProbe(parser.value(port));
    const FleetArguments fleet{parser.values(port), parser.isSet(all), parser.value(match), parser.isSet(wait),
                               parser.isSet(verify)};
    if (wantsFleet(fleet) || parser.isSet(match)) {
        if (parser.isSet(simulate) || parser.isSet(wireTrace))
            return usageError(parser, QStringLiteral("--simulate and --wire-trace take one port"));
        return runFleetProgram(parser, fleet);
    }
    if (parser.isSet(port) == parser.isSet(simulate))
        return usageError(parser, QStringLiteral("give exactly one of --port PATH and --simulate"));
    if (parser.isSet(port) && parser.value(port).isEmpty())
        return usageError(parser, QStringLiteral("--port PATH is required"));

    std::unique_ptr<sim::PtyStationHost> station;
    std::wstring devicePath;
    if (parser.isSet(simulate)) {
        station = std::make_unique<sim::PtyStationHost>();
        if (!station->start()) {
            printErr(QStringLiteral("rechannel-cli: could not start the simulated station"));
            return exit_status::otherFailure;
        }
        devicePath = station->slavePathW();
    } else {
        NamedPort named;
        const int resolved = resolvePortArgument(parser.value(port), &named);
        if (resolved >= 0) return resolved;
        devicePath = named.devicePath;
    }

    WorkThread thread;
    thread.setPortPath(devicePath);
    thread.setVerifyWrites(parser.isSet(verify));
    WireTrace trace;
    if (parser.isSet(wireTrace)) thread.connection().serialPort().setWireObserver(trace.observer());
    if (parser.isSet(reportPhases)) ::reportPhases(thread);

    RunLedger ledger;
    ledger.begin(QString::fromStdWString(devicePath));
    const JobOutcome outcome = runJob(thread);
    trace.flush();
    logProgramRun(ledger, thread, outcome, parser.isSet(reportPhases));   // before the outcome is reported

    if (outcome.hasError && outcome.code == job_messages::kCodePortNotOpened)
        printErr(explainPortOpenFailure(devicePath));
    for (const QString& mismatch : thread.verifyMismatches()) printErr(mismatch);
    printErr(outcome.outcomeLine());
    return outcome.exitStatus();
}
