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

// What a run opens for `entry`: "\\.\COMn" for an entry with a COM port name
// (one name for one port, as Windows and our own claim on a port know it),
// otherwise its device path.
std::wstring openPath(const PortEntry& entry);

// What ledger and status lines call `entry`: its port name ("COM8") when it
// has one, otherwise its display name.
std::wstring portLabel(const PortEntry& entry);

// A device path as ledger and status lines show it: "\\.\COM8" as "COM8",
// anything else as it stands.
std::wstring shownPortName(const std::wstring& devicePath);

// What a port name given by the user stands for: the device to open
// (empty when unknown or ambiguous) and how lines call it.
struct ResolvedPort {
    std::wstring devicePath;
    std::wstring label;
    std::size_t matches = 0;   // the list's entries `name` names
};

// The port `name` names in `list` (nullptr: discovery failed): the one entry
// it names, opened by openPath and called by portLabel; when no entry has
// the name, the system's port of that name (systemPortPath: "COM5" on
// Windows, listed or not), called "COM5".
ResolvedPort resolvePortName(const PortList* list, const std::wstring& name);

// Whether `entry`'s display name or port name holds `match` (any case; an
// empty match holds everywhere): what a name filter shows.
bool namesHold(const PortEntry& entry, const std::wstring& match);

// Whether `--all --match MATCH` takes `entry`: its display name or port name
// holds `match` (any case; an empty match holds everywhere). A Bluetooth
// port only when a match picks it: opening one starts a radio connection.
bool fleetTakes(const PortEntry& entry, const std::wstring& match);

// The entries that `name` names, each once, in list order. One entry: the
// port; none: unknown; several: ambiguous. A port name matches in any case
// ("com5" names the entry whose port name is COM5).
std::vector<PortEntry> portsNamed(const PortList& list, const std::wstring& name);
