#pragma once
// Finds a port by the names people see: the device path, the short node name
// ("ttyUSB0", "COM3") or the display name exactly as the port list shows it
// (a hardware adapter's name, a published virtual port's name).
#include <string>
#include <vector>

#include "PortDiscovery.h"

// True for text that names a device by its path ("/dev/ttyUSB0",
// "\\.\COM3"): such text is used as it stands, without discovery.
bool isDevicePath(const std::wstring& text);

// The device path of a Windows port name, "COM1" to "COM256" in any case
// ("com7" -> "\\.\COM7"; the prefix reaches COM10 and above too); empty for
// anything else.
std::wstring comDevicePath(const std::wstring& name);

// The device a name stands for on this system even when discovery does not
// list it (per platform): on Windows a COM port name, which a driver that
// registers nowhere still answers to; elsewhere nothing (empty).
std::wstring systemPortPath(const std::wstring& name);

// The entries that `name` names, each once, in list order. One entry: the
// port; none: unknown; several: ambiguous.
std::vector<PortEntry> portsNamed(const PortList& list, const std::wstring& name);
