#pragma once
// Lists the serial ports the operator can choose from. A failure is thrown
// as its message text (std::wstring); the list must not be used then.

#include <string>
#include <vector>

#include "PortEntry.h"
#include "PortPlatform.h"
#include "Result.h"

using PortList = std::vector<PortEntry>;

// Why a device was left out of the list, one line each, for the caller to
// print or trace.
using DiscoveryNotes = std::vector<std::wstring>;

// Empties `list` and fills it from `platform`. With `probe`, ports that cannot
// be opened exclusively are dropped. A device whose path or names cannot be
// read is left out, with a line in *notes when given: one device never
// empties the whole list.
void discoverPorts(PortPlatform& platform, PortList& list, bool probe, DiscoveryNotes* notes = nullptr);

// The same against the machine's own platform.
void discoverPorts(PortList& list, bool probe, DiscoveryNotes* notes = nullptr);

// The same without throwing: fails with the message, and `list` empty, when
// the ports cannot be listed.
Result<std::wstring> tryDiscoverPorts(PortPlatform& platform, PortList& list, bool probe,
                                      DiscoveryNotes* notes = nullptr);
Result<std::wstring> tryDiscoverPorts(PortList& list, bool probe, DiscoveryNotes* notes = nullptr);

// True for a device the Bluetooth stack enumerated: enumerator "BTHENUM" or a
// hardware id starting "BTHENUM\" (any case).
bool isBluetoothDevice(const std::wstring& enumerator, const std::wstring& hardwareId);

// The port to preselect: the only one; else the first whose display name
// holds "TUSB" (the station's USB adapter, case-sensitive); else the first.
// -1 for an empty list.
int preselectedIndex(const PortList& list);
