#include "ProgramFleet.h"

#include <QCoreApplication>
#include <QDir>

#include "CliOutput.h"
#include "Commands.h"
#include "FleetPorts.h"
#include "FleetRunner.h"
#include "LogDirectory.h"
#include "Outcome.h"
#include "PortArgument.h"
#include "PortDiscovery.h"
#include "PortNames.h"

namespace {

int usageWithPorts(const QCommandLineParser& parser, const QString& message, const PortList& ports) {
    const int status = usageError(parser, message);
    printPortList(ports);
    return status;
}

// Every discovered port `--all --match` takes (FleetPorts.h), as fleet ports;
// a failure, with the reason, when the ports cannot be listed.
Result<QString> listFleet(const QString& match, std::vector<FleetPort>* ports, PortList* found) {
    if (Result<QString> listed = discoverFleetPorts(found); !listed) return listed;
    *ports = portsForAll(*found, match);
    return {};
}

// With `wait` no port yet is no error: adapters plugged in later are found.
int discoverFleet(const QCommandLineParser& parser, const QString& match, bool wait, std::vector<FleetPort>* ports) {
    PortList found;
    if (const Result<QString> listed = listFleet(match, ports, &found); !listed) {
        printErr(listed.why());
        return exit_status::otherFailure;
    }
    if (ports->empty() && wait) {
        printErr(QStringLiteral("rechannel-cli: %1 yet; waiting for one (Ctrl-C ends)")
                     .arg(match.isEmpty() ? QStringLiteral("no serial port is there")
                                          : QStringLiteral("no port's name contains '%1'").arg(match)));
        return -1;
    }
    if (ports->empty())
        return usageWithPorts(parser, match.isEmpty() ? QStringLiteral("no serial port was found")
                                                      : QStringLiteral("no port's name contains '%1'").arg(match),
                              found);
    return -1;
}

}  // namespace

int runFleetProgram(const QCommandLineParser& parser, const FleetArguments& args) {
    std::vector<FleetPort> ports;
    DeviceIdentities identities;
    if (args.all) {
        const int found = discoverFleet(parser, args.match, args.wait, &ports);
        if (found >= 0) return found;
    }
    for (const QString& text : args.ports) {
        if (text.isEmpty()) return usageError(parser, QStringLiteral("--port PATH is required"));
        // A name no port has yet is waited for: the adapter may come later.
        NamedPort named;
        const int resolved = resolvePortArgument(text, &named, args.wait ? AbsentName::Wait : AbsentName::Refuse);
        if (resolved >= 0) return resolved;
        const QString path = QString::fromStdWString(named.devicePath);
        for (const FleetPort& earlier : ports)
            if (earlier.name == text || (!path.isEmpty() && identities.of(earlier.devicePath) == identities.of(path)))
                return usageError(parser, QStringLiteral("%1 is given twice").arg(text));
        ports.push_back(FleetPort{text, path, !isDevicePath(text.toStdWString())});
    }

    FleetSettings settings;
    settings.program = QCoreApplication::applicationFilePath();
    settings.programForks = true;
    settings.traceDir = logDirectoryPath() + QStringLiteral("/traces");
    settings.childOptions = args.childOptions;
    settings.wait = args.wait;
    settings.silentIsNoStation = args.all;
    settings.resolve = deviceNamedNow;
    if (args.all)
        settings.discover = [match = args.match] {
            // A listing that fails now is tried again at the next round.
            std::vector<FleetPort> now;
            PortList found;
            (void)listFleet(match, &now, &found);
            return now;
        };
    if (!QDir().mkpath(settings.traceDir)) {
        printErr(QStringLiteral("rechannel-cli: cannot create %1 for the traces").arg(settings.traceDir));
        return exit_status::otherFailure;
    }
    // Drawn in place only when both streams reach the terminal: a result line
    // piped elsewhere would come out between the board's redraws.
    const QuickEditOff quickEditOff;
    return runFleet(ports, settings, stderrIsTerminal() && stdoutIsTerminal());
}
