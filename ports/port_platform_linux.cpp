// Port discovery on Linux. The kernel's serial devices come from libudev
// (with the hardware database's product names) or, where udev is absent,
// straight from sysfs; the simulated stations' virtual ports follow them.
//
// Enumeration never opens a device: the UARTs the 8250 driver registers
// without a chip behind them are recognised by the sysfs "type" attribute
// (PORT_UNKNOWN, 0), which the kernel fills from the same probe that the
// well-known TIOCGSERIAL test reads, without touching the port.

#include "LineFacts.h"
#include "LinuxSerialPorts.h"
#include "PortNames.h"
#include "PortPlatform.h"
#include "SerialPort.h"
#include "Utf8.h"
#include "VirtualPorts.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <initializer_list>

#include <dirent.h>
#include <libudev.h>
#include <sys/stat.h>
#include <unistd.h>

namespace linux_ports {

namespace {

constexpr std::size_t kMaxAttributeBytes = 256;

bool exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

bool isSymlink(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

std::string trimmed(std::string text) {
    const auto notSpace = [](unsigned char c) { return !std::isspace(c); };
    text.erase(std::find_if(text.rbegin(), text.rend(), notSpace).base(), text.end());
    text.erase(text.begin(), std::find_if(text.begin(), text.end(), notSpace));
    return text;
}

// The first line of a sysfs attribute, bounded; empty when unreadable.
std::string readAttribute(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    std::string text(kMaxAttributeBytes, '\0');
    in.read(&text[0], static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
    const auto newline = text.find('\n');
    if (newline != std::string::npos) text.resize(newline);
    return trimmed(text);
}

std::string readLink(const std::string& path) {
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink(path.c_str(), buffer, sizeof buffer - 1);
    if (n <= 0) return {};
    return std::string(buffer, static_cast<std::size_t>(n));
}

std::string baseName(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string parentDir(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos || slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string realPath(const std::string& path) {
    char buffer[PATH_MAX];
    return ::realpath(path.c_str(), buffer) ? std::string(buffer) : std::string();
}

std::string withoutHexPrefix(std::string id) {
    if (id.size() > 2 && id[0] == '0' && (id[1] == 'x' || id[1] == 'X')) id.erase(0, 2);
    return id;
}

// A serial-core port (8250 and friends) whose probe found no UART.
bool isPhantomUart(const char* typeAttribute) {
    if (!typeAttribute) return false;
    const std::string type = trimmed(typeAttribute);
    return type == "0";
}

std::string join(const std::string& a, const std::string& b) {
    if (a.empty()) return b;
    if (b.empty()) return a;
    return a + " " + b;
}

// Fills the USB or PCI identity from the sysfs directories above `deviceDir`,
// stopping at `devicesRoot`.
void identifyFromSysfs(TtyDevice& device, std::string dir, const std::string& devicesRoot) {
    while (dir.size() > devicesRoot.size() && dir.compare(0, devicesRoot.size(), devicesRoot) == 0) {
        if (exists(dir + "/idVendor") && exists(dir + "/idProduct")) {
            device.isUsb = true;
            device.vendorId = readAttribute(dir + "/idVendor");
            device.productId = readAttribute(dir + "/idProduct");
            device.model = readAttribute(dir + "/product");
            device.vendor = readAttribute(dir + "/manufacturer");
            device.serial = readAttribute(dir + "/serial");
            return;
        }
        if (exists(dir + "/vendor") && exists(dir + "/device") && exists(dir + "/class")) {
            device.isPci = true;
            device.vendorId = withoutHexPrefix(readAttribute(dir + "/vendor"));
            device.productId = withoutHexPrefix(readAttribute(dir + "/device"));
            return;
        }
        dir = parentDir(dir);
    }
}

const char* property(udev_device* device, const char* name) {
    return device ? udev_device_get_property_value(device, name) : nullptr;
}

const char* attribute(udev_device* device, const char* name) {
    return device ? udev_device_get_sysattr_value(device, name) : nullptr;
}

// The first value that is present and not empty.
std::string firstOf(std::initializer_list<const char*> values) {
    for (const char* value : values)
        if (value && *value) return trimmed(value);
    return {};
}

void identifyFromUdev(TtyDevice& device, udev_device* tty) {
    if (udev_device* usb = udev_device_get_parent_with_subsystem_devtype(tty, "usb", "usb_device")) {
        device.isUsb = true;
        device.vendorId = firstOf({attribute(usb, "idVendor"), property(tty, "ID_VENDOR_ID")});
        device.productId = firstOf({attribute(usb, "idProduct"), property(tty, "ID_MODEL_ID")});
        device.model = firstOf({property(tty, "ID_MODEL_FROM_DATABASE"), property(usb, "ID_MODEL_FROM_DATABASE"),
                                attribute(usb, "product"), property(tty, "ID_MODEL")});
        device.vendor = firstOf({property(tty, "ID_VENDOR_FROM_DATABASE"), property(usb, "ID_VENDOR_FROM_DATABASE"),
                                 attribute(usb, "manufacturer"), property(tty, "ID_VENDOR")});
        device.serial = firstOf({attribute(usb, "serial"), property(tty, "ID_SERIAL_SHORT")});
        return;
    }
    if (udev_device* pci = udev_device_get_parent_with_subsystem_devtype(tty, "pci", nullptr)) {
        device.isPci = true;
        device.vendorId = withoutHexPrefix(firstOf({attribute(pci, "vendor")}));
        device.productId = withoutHexPrefix(firstOf({attribute(pci, "device")}));
        device.model = firstOf({property(pci, "ID_MODEL_FROM_DATABASE"), property(tty, "ID_MODEL_FROM_DATABASE")});
        device.vendor = firstOf({property(pci, "ID_VENDOR_FROM_DATABASE"), property(tty, "ID_VENDOR_FROM_DATABASE")});
    }
}

}  // namespace

int naturalCompare(const std::string& a, const std::string& b) {
    const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            std::size_t ei = i, ej = j;
            while (ei < a.size() && isDigit(a[ei])) ++ei;
            while (ej < b.size() && isDigit(b[ej])) ++ej;
            std::size_t si = i, sj = j;
            while (si + 1 < ei && a[si] == '0') ++si;   // leading zeros do not make a number larger
            while (sj + 1 < ej && b[sj] == '0') ++sj;
            const std::size_t li = ei - si, lj = ej - sj;
            if (li != lj) return li < lj ? -1 : 1;
            const int c = a.compare(si, li, b, sj, lj);
            if (c != 0) return c < 0 ? -1 : 1;
            i = ei;
            j = ej;
        } else {
            if (a[i] != b[j]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]) ? -1 : 1;
            ++i;
            ++j;
        }
    }
    if (i < a.size()) return 1;
    if (j < b.size()) return -1;
    return a.compare(b) < 0 ? -1 : (a == b ? 0 : 1);   // "ttyS01" and "ttyS1" still get a fixed order
}

void sortDevices(std::vector<TtyDevice>& devices) {
    std::stable_sort(devices.begin(), devices.end(), [](const TtyDevice& x, const TtyDevice& y) {
        if (x.isUsb != y.isUsb) return x.isUsb;
        return naturalCompare(x.node, y.node) < 0;
    });
}

std::string displayNameOf(const TtyDevice& device) {
    std::string name = device.model;
    if (name.empty()) name = device.isUsb ? "USB serial port" : device.isPci ? "PCI serial port" : "Serial port";
    return name + " (" + device.node + ")";
}

std::string descriptionOf(const TtyDevice& device) {
    std::string text = join(device.vendor, device.model);
    // The windows are Russian: what we say of a device ourselves is too. Its
    // vendor's and model's names stay as the device gives them.
    if (text.empty())
        text = device.isUsb   ? "USB-адаптер последовательного порта"
               : device.isPci ? "Последовательный порт PCI"
                              : "Встроенный последовательный порт";
    if (!device.vendorId.empty() || !device.productId.empty())
        text += " [" + device.vendorId + ":" + device.productId + "]";
    if (!device.serial.empty()) text += " S/N " + device.serial;
    if (!device.isUsb && !device.isPci && !device.driver.empty()) text += " (" + device.driver + ")";
    return text;
}

std::vector<TtyDevice> scanSysfs(const std::string& sysRoot, const std::string& devRoot) {
    std::vector<TtyDevice> devices;
    const std::string classDir = sysRoot + "/class/tty";
    std::string devicesRoot = realPath(sysRoot + "/devices");
    if (devicesRoot.empty()) devicesRoot = sysRoot + "/devices";

    DIR* dir = ::opendir(classDir.c_str());
    if (!dir) return devices;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        // Also the publisher's own ".NAME.PID.tmp", about to be renamed.
        if (name.empty() || name[0] == '.') continue;
        const std::string base = classDir + "/" + name;
        // Virtual consoles and pseudo-terminals have no device behind them.
        const std::string deviceDir = realPath(base + "/device");
        if (deviceDir.empty()) continue;
        const std::string type = readAttribute(base + "/type");
        if (isPhantomUart(exists(base + "/type") ? type.c_str() : nullptr)) continue;
        TtyDevice device;
        device.node = name;
        device.devicePath = devRoot + "/" + name;
        if (!exists(device.devicePath)) continue;
        device.driver = baseName(readLink(deviceDir + "/driver"));
        identifyFromSysfs(device, deviceDir, devicesRoot);
        devices.push_back(std::move(device));
    }
    ::closedir(dir);
    return devices;
}

bool scanUdev(std::vector<TtyDevice>& devices) {
    devices.clear();
    udev* context = udev_new();
    if (!context) return false;
    udev_enumerate* enumeration = udev_enumerate_new(context);
    if (!enumeration || udev_enumerate_add_match_subsystem(enumeration, "tty") < 0 ||
        udev_enumerate_scan_devices(enumeration) < 0) {
        if (enumeration) udev_enumerate_unref(enumeration);
        udev_unref(context);
        return false;
    }
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumeration)) {
        const char* syspath = udev_list_entry_get_name(entry);
        if (!syspath) continue;
        udev_device* tty = udev_device_new_from_syspath(context, syspath);
        if (!tty) continue;
        const char* node = udev_device_get_devnode(tty);
        const char* sysname = udev_device_get_sysname(tty);
        const bool backed = isSymlink(std::string(syspath) + "/device");
        if (node && sysname && backed && !isPhantomUart(attribute(tty, "type")) && exists(node)) {
            TtyDevice device;
            device.node = sysname;
            device.devicePath = node;
            if (udev_device* parent = udev_device_get_parent(tty))
                if (const char* driver = udev_device_get_driver(parent)) device.driver = driver;
            identifyFromUdev(device, tty);
            devices.push_back(std::move(device));
        }
        udev_device_unref(tty);
    }
    udev_enumerate_unref(enumeration);
    udev_unref(context);
    return true;
}

std::vector<VirtualPort> scanVirtualPorts(const std::string& directory) {
    std::vector<VirtualPort> ports;
    if (directory.empty() || !isPrivateDirectory(directory)) return ports;
    DIR* dir = ::opendir(directory.c_str());
    if (!dir) return ports;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        // Also the publisher's own ".NAME.PID.tmp", about to be renamed.
        if (name.empty() || name[0] == '.') continue;
        const std::string link = directory + "/" + name;
        if (!isSymlink(link)) continue;
        std::string target = readLink(link);
        if (target.empty()) continue;
        if (target[0] != '/') target = directory + "/" + target;
        if (!exists(target)) continue;   // the station behind it is gone
        ports.push_back({name, target});
    }
    ::closedir(dir);
    std::sort(ports.begin(), ports.end(),
              [](const VirtualPort& x, const VirtualPort& y) { return naturalCompare(x.name, y.name) < 0; });
    return ports;
}

bool widen(const std::string& text, std::wstring& wide) {
    wide.clear();
    for (std::size_t i = 0; i < text.size();) {
        std::uint32_t cp = 0;
        if (!utf8::decode(text, i, cp) || cp == 0) return false;
        utf8::appendWide(wide, cp);
    }
    return true;
}

std::wstring widenLossy(const std::string& text) {
    std::wstring wide;
    for (std::size_t i = 0; i < text.size();) {
        std::uint32_t cp = 0;
        if (utf8::decode(text, i, cp)) {
            utf8::appendWide(wide, cp);
        } else {
            wide += static_cast<wchar_t>(0xFFFD);
            ++i;
        }
    }
    return wide;
}

}  // namespace linux_ports

namespace {

// The rate the station connection opens the port at; the probe opens it
// exactly the same way, so a port it accepts is one the job can use.
constexpr std::uint16_t kProbeBaud = line::kBaud;
// Names longer than the Windows name buffers (255 characters) are not offered.
constexpr std::size_t kMaxNameChars = 255;
constexpr std::uint32_t kErrorInsufficientBuffer = 122;
// Linux always enumerates; it has no fixed port list.
constexpr std::uint32_t kEnumeratingMajorVersion = 10;

class LinuxPortPlatform : public PortPlatform {
public:
    bool queryVersion(OsVersion& version) override {
        version.major = kEnumeratingMajorVersion;
        version.platformId = kPlatformNt;
        return true;
    }

    bool openDeviceList() override {
        listed_.clear();
        std::vector<linux_ports::TtyDevice> devices;
        if (!linux_ports::scanUdev(devices)) devices = linux_ports::scanSysfs("/sys", "/dev");
        linux_ports::sortDevices(devices);
        for (const auto& device : devices)
            add(device.devicePath, linux_ports::displayNameOf(device), linux_ports::descriptionOf(device));
        for (const auto& port : linux_ports::scanVirtualPorts(virtualPortDirectory()))
            add(port.target, port.name, "Виртуальный порт -> " + port.target);
        return true;
    }

    bool enumInterface(std::uint32_t index) override {
        if (index >= listed_.size()) {
            lastError_ = kErrorNoMoreItems;
            return false;
        }
        current_ = index;
        return true;
    }

    bool interfaceDetail(std::wstring& devicePath) override {
        if (current_ >= listed_.size()) return fail(kErrorNoMoreItems);
        devicePath = listed_[current_].devicePath;
        return true;
    }

    bool friendlyName(std::wstring& name) override {
        if (current_ >= listed_.size()) return fail(kErrorNoMoreItems);
        return readName(listed_[current_].displayName, name);
    }

    bool deviceDescription(std::wstring& description) override {
        if (current_ >= listed_.size()) return fail(kErrorNoMoreItems);
        return readName(listed_[current_].description, description);
    }

    void releaseDeviceList() override {
        listed_.clear();
        current_ = 0;
    }

    bool probeOpen(const std::wstring& devicePath) override {
        SerialPort port;
        const bool opened = port.open(devicePath, kProbeBaud);
        if (!opened) lastError_ = static_cast<std::uint32_t>(errno);
        port.close();
        return opened;
    }

    std::uint32_t lastError() override { return lastError_; }

private:
    struct Listed {
        std::wstring devicePath;
        std::wstring displayName;
        std::wstring description;
    };

    void add(const std::string& path, const std::string& name, const std::string& description) {
        Listed listed;
        // A path that does not survive the trip to wide text and back could
        // not be opened by the transport; such a port is not offered.
        if (!linux_ports::widen(path, listed.devicePath)) return;
        listed.displayName = linux_ports::widenLossy(name);
        listed.description = linux_ports::widenLossy(description);
        listed_.push_back(std::move(listed));
    }

    bool readName(const std::wstring& source, std::wstring& out) {
        if (source.size() > kMaxNameChars) return fail(kErrorInsufficientBuffer);
        out = source;
        return true;
    }

    bool fail(std::uint32_t code) {
        lastError_ = code;
        return false;
    }

    std::vector<Listed> listed_;
    std::size_t current_ = 0;
    std::uint32_t lastError_ = 0;
};

}  // namespace

std::unique_ptr<PortPlatform> makeSystemPortPlatform() { return std::make_unique<LinuxPortPlatform>(); }

// Linux knows its ports by their device paths only.
std::wstring systemPortPath(const std::wstring&) { return {}; }
