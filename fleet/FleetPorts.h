#pragma once
// The ports a fleet works on, the same under `rechannel-cli program --all`
// and in the fleet window: named as every program names a port (portLabel:
// "COM5", an adapter's or a published station's name), opened where every
// program opens it (openPath), each device once however many names point at
// it (a published link and its node, two links to one station).
#include <QString>
#include <vector>

#include "PortDiscovery.h"
#include "PortWorker.h"
#include "Result.h"

struct FleetPortInfo {
    QString name;         // portLabel
    QString devicePath;   // openPath
    // `--all` takes it for the match asked (fleetTakes): a Bluetooth port
    // only when the match picks it, as opening one starts a radio connection
    // and can block for seconds.
    bool takenByAll = false;
    PortEntry entry;      // as discovery listed it: display name, description, Bluetooth
};

enum class FleetTake {
    All,     // what `--all --match MATCH` works on (takenByAll)
    Shown,   // what a name filter shows: every port whose names hold the match, Bluetooth ones too
};

// The entries of `found` that `take` keeps for `match`, in discovery order,
// each device once (the first name of it kept).
std::vector<FleetPortInfo> fleetPorts(const PortList& found, const QString& match, FleetTake take);

// The ports `rechannel-cli program --all --match MATCH` works on: those
// fleetPorts takes for FleetTake::All, each opened where it is now (a
// device listed, not a name to look up again).
std::vector<FleetPort> portsForAll(const PortList& found, const QString& match);

// The ports discovery lists now; a failure, with the reason, when they
// cannot be listed.
Result<QString> discoverFleetPorts(PortList* found);
