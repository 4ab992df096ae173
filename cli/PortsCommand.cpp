// ports: one line per discovered port, in discovery order, the window's
// preselection marked with "*", a Bluetooth port with "B" (a fleet run
// leaves it out unless --match picks it); on standard error, why a device
// was left out.
#include "CliOutput.h"
#include "Commands.h"
#include "Outcome.h"
#include "PortDiscovery.h"

int runPorts(const QStringList& args) {
    QCommandLineParser parser;
    const int early = parseCommandLine(parser, args, QStringLiteral("Lists the serial ports: path, name, description."));
    if (early >= 0) return early;
    if (!parser.positionalArguments().isEmpty())
        return usageError(parser, QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first()));

    PortList ports;
    DiscoveryNotes notes;
    const Result<std::wstring> listed = tryDiscoverPorts(ports, false, &notes);
    for (const std::wstring& note : notes) printErr(QStringLiteral("rechannel-cli: ") + QString::fromStdWString(note));
    if (!listed) {
        printErr(QString::fromStdWString(listed.why()));
        return exit_status::otherFailure;
    }
    const int preselected = preselectedIndex(ports);
    for (int i = 0; i < static_cast<int>(ports.size()); ++i) {
        const PortEntry& entry = ports[static_cast<size_t>(i)];
        printOut(QStringLiteral("%1%2%3\t%4\t%5")
                     .arg(i == preselected ? QStringLiteral("*") : QStringLiteral(" "))
                     .arg(entry.bluetooth ? QStringLiteral("B") : QStringLiteral(" "))
                     .arg(QString::fromStdWString(entry.devicePath))
                     .arg(QString::fromStdWString(entry.displayName))
                     .arg(QString::fromStdWString(entry.description)));
    }
    return 0;
}
