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
    const bool listed = bool(tryDiscoverPorts(ports, false));
    return QString::fromStdWString(resolvePortName(listed ? &ports : nullptr, name.toStdWString()).devicePath);
}

int resolvePortArgument(const QString& text, NamedPort* port, AbsentName absent) {
    const std::wstring wanted = text.toStdWString();
    if (isDevicePath(wanted)) {
        *port = NamedPort{text, wanted};
        return -1;
    }
    PortList ports;
    const Result<std::wstring> listed = tryDiscoverPorts(ports, false);
    // A port the system answers to by name (COM5 on Windows) needs no list.
    const ResolvedPort resolved = resolvePortName(listed ? &ports : nullptr, wanted);
    if (!resolved.devicePath.empty()) {
        *port = NamedPort{QString::fromStdWString(resolved.label), resolved.devicePath};
        return -1;
    }
    if (!listed) {
        printErr(QStringLiteral("rechannel-cli: could not list the ports to find '%1': %2")
                     .arg(text, QString::fromStdWString(listed.why())));
        return exit_status::otherFailure;
    }
    if (resolved.matches == 0 && absent == AbsentName::Wait) {
        *port = NamedPort{text, std::wstring()};
        return -1;
    }
    printErr(resolved.matches == 0
                 ? QStringLiteral("rechannel-cli: no port is named '%1'; give a device path or a name from 'rechannel-cli ports'.").arg(text)
                 : QStringLiteral("rechannel-cli: '%1' names %2 ports; give the device path instead.").arg(text).arg(resolved.matches));
    listPorts(ports);
    return exit_status::usage;
}
