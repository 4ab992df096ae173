#include "FleetCommand.h"

#include <QCoreApplication>
#include <QDir>

#include "ChildReport.h"
#include "CliOutput.h"
#include "Commands.h"
#include "FleetRunner.h"
#include "LogDirectory.h"
#include "Outcome.h"
#include "PortArgument.h"
#include "PortDiscovery.h"
#include "RunLedger.h"
#include "StationConnection.h"
#include "WorkThread.h"

namespace {

constexpr std::uint32_t kHeadAddress = 0xC000;
constexpr int kHeadBytes = 16;

int usageWithPorts(const QCommandLineParser& parser, const QString& message, const PortList& ports) {
    const int status = usageError(parser, message);
    printErr(QStringLiteral("The ports are:"));
    for (const PortEntry& entry : ports)
        printErr(QStringLiteral("  %1\t%2").arg(QString::fromStdWString(entry.devicePath),
                                                QString::fromStdWString(entry.displayName)));
    return status;
}

// Every discovered port, or those whose display name holds `match`.
int discoverFleet(const QCommandLineParser& parser, const QString& match, std::vector<FleetPort>* ports) {
    PortList found;
    try {
        discoverPorts(found, false);
    } catch (const std::wstring& message) {
        printErr(QString::fromStdWString(message));
        return exit_status::otherFailure;
    }
    for (const PortEntry& entry : found) {
        const QString name = QString::fromStdWString(entry.displayName);
        if (match.isEmpty() || name.contains(match, Qt::CaseInsensitive))
            ports->push_back(FleetPort{name, QString::fromStdWString(entry.devicePath)});
    }
    if (ports->empty())
        return usageWithPorts(parser, match.isEmpty() ? QStringLiteral("no serial port was found")
                                                      : QStringLiteral("no port's name contains '%1'").arg(match),
                              found);
    return -1;
}

}  // namespace

bool wantsFleet(const FleetArguments& args) { return args.ports.size() > 1 || args.all || args.wait; }

int runFleetProgram(const QCommandLineParser& parser, const FleetArguments& args) {
    if (args.all && !args.ports.isEmpty()) return usageError(parser, QStringLiteral("give either --port or --all"));
    if (!args.all && !args.match.isEmpty()) return usageError(parser, QStringLiteral("--match goes with --all"));
    if (!args.all && args.ports.isEmpty()) return usageError(parser, QStringLiteral("--wait needs --port or --all"));

    std::vector<FleetPort> ports;
    if (args.all) {
        const int found = discoverFleet(parser, args.match, &ports);
        if (found >= 0) return found;
    }
    for (const QString& text : args.ports) {
        if (text.isEmpty()) return usageError(parser, QStringLiteral("--port PATH is required"));
        NamedPort named;
        const int resolved = resolvePortArgument(text, &named);
        if (resolved >= 0) return resolved;
        const QString path = QString::fromStdWString(named.devicePath);
        for (const FleetPort& earlier : ports)
            if (earlier.devicePath == path) return usageError(parser, QStringLiteral("%1 is given twice").arg(text));
        ports.push_back(FleetPort{text, path});
    }

    FleetSettings settings;
    settings.program = QCoreApplication::applicationFilePath();
    settings.traceDir = logDirectoryPath() + QStringLiteral("/traces");
    settings.childOptions = args.childOptions;
    settings.wait = args.wait;
    if (!QDir().mkpath(settings.traceDir)) {
        printErr(QStringLiteral("rechannel-cli: cannot create %1 for the traces").arg(settings.traceDir));
        return exit_status::otherFailure;
    }
    return runFleet(ports, settings, stderrIsTerminal());
}

int runProbe(const QString& port) {
    StationConnection connection;
    if (!connection.open(port.toStdWString())) return exit_status::portNotOpened;
    try {
        std::uint8_t head[kHeadBytes] = {};
        connection.readRom16(kHeadAddress, kHeadBytes, head, 1);
        connection.close();
        printErr(QString::fromUtf8(child_report::addressLine(head[2] | (head[3] << 8))));
        return 0;
    } catch (int) {
        connection.close();
        return exit_status::noProperAnswer;
    }
}

void reportPhases(WorkThread& thread) {
    // The run's own observer (the interrupt guard) comes first: it may end
    // the run before the write, and then no "writing" line must be seen.
    thread.setPhaseObserver([&thread, guard = thread.phaseObserver()](JobPhase phase) {
        if (guard) guard(phase);
        if (phase == JobPhase::Done) return;
        // By the first write the whole block has been read: the runner can
        // show whose station this is while it is being written.
        if (phase == JobPhase::Writing) {
            const auto& block = thread.deviceParams();
            printErr(QString::fromUtf8(child_report::addressLine(block[2] | (block[3] << 8))));
        }
        printErr(QString::fromUtf8(child_report::phaseLine(phase)));
    });
}

void logProgramRun(RunLedger& ledger, const WorkThread& thread, const JobOutcome& outcome, bool report) {
    const QString error = ledger.finish(thread, RunResult{outcome.moved, outcome.hasError, outcome.text, outcome.code});
    if (!error.isEmpty()) printErr(error);
    if (!report) return;
    const LedgerEntry& entry = ledger.lastEntry();
    printErr(QString::fromUtf8(child_report::resultLine(entry.address, entry.outcome, entry.backup, entry.verified)));
}

void logInterruptedRun(RunLedger& ledger, const WorkThread& thread, bool report) {
    const QString error = ledger.finishInterrupted(exit_status::interrupted, thread.stationAddress());
    if (!error.isEmpty()) printErr(error);
    if (!report) return;
    const LedgerEntry& entry = ledger.lastEntry();
    printErr(QString::fromUtf8(child_report::resultLine(entry.address, entry.outcome, entry.backup, entry.verified)));
}
