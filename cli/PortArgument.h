#pragma once
// --port takes a device path, a short node name or a name exactly as `ports`
// and the window list it.
#include <QString>
#include <string>

#include "PortDiscovery.h"

struct NamedPort {
    QString name;              // as the user gave it, or the port list shows it
    std::wstring devicePath;   // what the serial transport opens
};

// Finds the port `text` names. A path is taken as it stands; any other name
// must name exactly one discovered port. Returns -1 on success, otherwise
// the exit status after saying why on standard error (an unknown or
// ambiguous name is a usage error and lists the ports).
// With AbsentName::Wait a name that no port has yet is no error: `port`
// keeps the name with an empty device path (a port waited for).
enum class AbsentName { Refuse, Wait };
int resolvePortArgument(const QString& text, NamedPort* port, AbsentName absent = AbsentName::Refuse);

// The device `name` stands for now, quietly (a port waited for by name):
// empty while no port, or more than one, has that name.
QString deviceNamedNow(const QString& name);

// On standard error: "The ports are:", then each port as "  PATH\tNAME".
void printPortList(const PortList& ports);
