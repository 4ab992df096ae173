#pragma once
// One serial port the operator can choose in the window.
#include <string>

struct PortEntry {
    std::wstring devicePath;    // what the serial transport opens
    std::wstring portName;      // "COM3" on old NT systems, empty when enumerated
    std::wstring displayName;   // the text of the port list item
    std::wstring description;   // the device's description
};
