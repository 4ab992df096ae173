#include "PortArgument.h"

#include "CliOutput.h"
#include "Outcome.h"
#include "PortDiscovery.h"
#include "PortNames.h"

namespace {

void listPorts(const PortList& ports) {
    if (ports.empty()) {
        printErr(QStringLiteral("No serial port was found."));
        return;
    }
    printPortList(ports);
}

}  // namespace

void printPortList(const PortList& ports) {
    printErr(QStringLiteral("The ports are:"));
    for (const PortEntry& entry : ports)
        printErr(QStringLiteral("  %1\t%2").arg(QString::fromStdWString(entry.devicePath),
                                                QString::fromStdWString(entry.displayName)));
}

QString deviceNamedNow(const QString& name) {
    PortList ports;
    std::wstring error;
    if (!tryDiscoverPorts(ports, false, &error)) return QString();
    const std::vector<PortEntry> named = portsNamed(ports, name.toStdWString());
    return named.size() == 1 ? QString::fromStdWString(named.front().devicePath) : QString();
}

int resolvePortArgument(const QString& text, NamedPort* port, AbsentName absent) {
    const std::wstring wanted = text.toStdWString();
    if (isDevicePath(wanted)) {
        *port = NamedPort{text, wanted};
        return -1;
    }
    PortList ports;
    std::wstring error;
    if (!tryDiscoverPorts(ports, false, &error)) {
        printErr(QStringLiteral("rechannel-cli: could not list the ports to find '%1': %2")
                     .arg(text, QString::fromStdWString(error)));
        return exit_status::otherFailure;
    }
    const std::vector<PortEntry> named = portsNamed(ports, wanted);
    if (named.size() == 1) {
        *port = NamedPort{QString::fromStdWString(named.front().displayName), named.front().devicePath};
        return -1;
    }
    // A port the system answers to by name though discovery missed it.
    if (const std::wstring system = systemPortPath(wanted); named.empty() && !system.empty()) {
        *port = NamedPort{text, system};
        return -1;
    }
    if (named.empty() && absent == AbsentName::Wait) {
        *port = NamedPort{text, std::wstring()};
        return -1;
    }
    printErr(named.empty()
                 ? QStringLiteral("rechannel-cli: no port is named '%1'; give a device path or a name from 'rechannel-cli ports'.").arg(text)
                 : QStringLiteral("rechannel-cli: '%1' names %2 ports; give the device path instead.").arg(text).arg(named.size()));
    listPorts(ports);
    return exit_status::usage;
}
