#pragma once
// The ports a serial driver registers under HKLM\HARDWARE\DEVICEMAP\SERIALCOMM
// (one value per port: the driver's device name, holding the port name).
// Some USB, Bluetooth and virtual port drivers register there and not in the
// COM-port interface class, so Windows discovery lists them after the
// device-setup enumeration. Qt-free and platform-free: the registry reading
// is the Win32 backend's, the choice of ports is here.
#include <string>
#include <vector>

struct RegisteredPort {
    std::wstring device;     // the value name, e.g. "\Device\Serial7"
    std::wstring portName;   // the value, e.g. "COM7"
};

// The registered ports whose port name is not among `listed` (the device-setup
// enumeration's port names), each port name once (the first registration
// wins; case does not matter), in port-number order: COM2 before COM10, then
// names that are not COM<n> in name order. A port name that could not be
// opened as \\.\<name> (empty, too long, not letters, digits, '-' or '_') is
// left out.
std::vector<RegisteredPort> serialCommOnly(const std::vector<RegisteredPort>& registered,
                                           const std::vector<std::wstring>& listed);
