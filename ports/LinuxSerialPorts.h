#pragma once
// The Linux side of port discovery: the serial devices the kernel offers
// (from udev, or straight from sysfs where udev is absent) and the virtual
// ports simulated stations publish. Enumeration never opens a port.

#include <string>
#include <vector>

namespace linux_ports {

struct TtyDevice {
    std::string node;         // "ttyUSB0"
    std::string devicePath;   // "/dev/ttyUSB0"
    bool isUsb = false;
    bool isPci = false;
    std::string vendor;       // names as the hardware database or the device tell them
    std::string model;
    std::string vendorId;     // "0451"
    std::string productId;    // "3410"
    std::string serial;
    std::string driver;       // "ftdi_sio", "serial", ...
};

struct VirtualPort {
    std::string name;     // the link's name
    std::string target;   // where it points, made absolute
};

// < 0, 0, > 0 like strcmp, but runs of digits compare as numbers, so
// "ttyS2" comes before "ttyS10".
int naturalCompare(const std::string& a, const std::string& b);

// USB adapters first, then by node name in natural order; stable.
void sortDevices(std::vector<TtyDevice>& devices);

// "TUSB3410 Microcontroller (ttyUSB0)"
std::string displayNameOf(const TtyDevice& device);
// "Texas Instruments, Inc. TUSB3410 Microcontroller [0451:3410] S/N 12345";
// in Russian (UTF-8) where the device names neither vendor nor model.
std::string descriptionOf(const TtyDevice& device);

// Serial devices under `sysRoot` (normally "/sys") whose node exists under
// `devRoot` (normally "/dev"): every tty backed by a device, except UARTs the
// kernel found no chip behind. Unsorted.
std::vector<TtyDevice> scanSysfs(const std::string& sysRoot, const std::string& devRoot);

// The same through libudev, with the hardware database's names. False when
// udev cannot be used here.
bool scanUdev(std::vector<TtyDevice>& devices);

// Every symbolic link in `directory` whose target exists, in natural name
// order. A missing directory gives none, and so does one that is not ours
// or that others may write to.
std::vector<VirtualPort> scanVirtualPorts(const std::string& directory);

// UTF-8 to wide text. Strict: false on malformed input (a path that could
// not be handed back to the file system unchanged).
bool widen(const std::string& utf8, std::wstring& wide);
// Lenient: malformed bytes become U+FFFD (names shown to the operator).
std::wstring widenLossy(const std::string& utf8);

}  // namespace linux_ports
