#pragma once
// One serial port the operator can choose in the window.
#include <string>

struct PortEntry {
    std::wstring devicePath;    // the device's own path (an interface path for a device-setup entry)
    std::wstring portName;      // "COM5": its port name on Windows; empty where ports have none
    std::wstring displayName;   // the text of the port list item
    std::wstring description;   // the device's description
    // Enumerated by the Bluetooth stack: opening it starts a radio
    // connection and may block for seconds, so a fleet run leaves it out
    // unless named.
    bool bluetooth = false;
};
