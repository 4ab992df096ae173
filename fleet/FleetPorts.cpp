#include "FleetPorts.h"

#include <algorithm>

#include "PortNames.h"
#include "PortWorker.h"

std::vector<FleetPortInfo> fleetPorts(const PortList& found, const QString& match, FleetTake take) {
    const std::wstring wanted = match.toStdWString();
    std::vector<FleetPortInfo> ports;
    DeviceIdentities identities;
    for (const PortEntry& entry : found) {
        const bool byAll = fleetTakes(entry, wanted);
        if (take == FleetTake::All ? !byAll : !namesHold(entry, wanted)) continue;
        FleetPortInfo port{QString::fromStdWString(portLabel(entry)), QString::fromStdWString(openPath(entry)), byAll,
                           entry};
        const bool seen = std::any_of(ports.begin(), ports.end(), [&](const FleetPortInfo& earlier) {
            return earlier.name == port.name || identities.of(earlier.devicePath) == identities.of(port.devicePath);
        });
        if (!seen) ports.push_back(std::move(port));
    }
    return ports;
}

std::vector<FleetPort> portsForAll(const PortList& found, const QString& match) {
    std::vector<FleetPort> ports;
    for (const FleetPortInfo& port : fleetPorts(found, match, FleetTake::All))
        ports.push_back(FleetPort{port.name, port.devicePath, false});
    return ports;
}

Result<QString> discoverFleetPorts(PortList* found) {
    if (const Result<std::wstring> listed = tryDiscoverPorts(*found, false); !listed)
        return failure(QString::fromStdWString(listed.why()));
    return {};
}
