#pragma once
// Lists the serial ports the operator can choose from. A failure is thrown
// as its message text (std::wstring); the list must not be used then.

#include <string>
#include <vector>

#include "PortEntry.h"
#include "PortPlatform.h"

using PortList = std::vector<PortEntry>;

// Empties `list` and fills it from `platform`. With `probe`, ports that cannot
// be opened exclusively are dropped.
void discoverPorts(PortPlatform& platform, PortList& list, bool probe);

// The same against the machine's own platform.
void discoverPorts(PortList& list, bool probe);

// The same without throwing: false, with the message in *error and `list`
// empty, when the ports cannot be listed.
bool tryDiscoverPorts(PortList& list, bool probe, std::wstring* error);

// The port to preselect: the only one; else the first whose display name
// holds "TUSB" (the station's USB adapter, case-sensitive); else the first.
// -1 for an empty list.
int preselectedIndex(const PortList& list);
