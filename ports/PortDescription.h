#pragma once
// What a port is, in parts, so that each program words it in its own
// language: the CLI's port list in English, the windows in Russian. Words
// the system has for a device (a driver's description on Windows, the
// vendor and model udev knows on Linux) stand as they are; this program
// names only what it recognises itself.
#include <string>

struct PortAbout {
    enum class Kind {
        Described,     // `words` are the system's own description
        UsbAdapter,    // a USB serial adapter whose vendor and model are not known
        PciPort,       // a serial port on a PCI card, likewise
        OnBoardPort,   // the computer's own serial port
        VirtualPort,   // a simulated station published as a port: `words` is the device it stands for
        Registered,    // known only from the system's list of serial ports: `words` is its kernel device
    };
    Kind kind = Kind::Described;
    std::wstring words;
    std::wstring ids;      // "0403:6001": vendor and product id; empty when neither is known
    std::wstring serial;   // the device's serial number
    std::wstring driver;   // the kernel driver, where it tells the ports apart (on-board ports)
};

enum class PortWords { English, Russian };

std::wstring describePort(const PortAbout& about, PortWords words);
