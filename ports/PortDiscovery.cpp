#include "PortDiscovery.h"

#include <cwctype>
#include <string>

namespace {

constexpr std::uint32_t kFixedPortCount = 16;   // COM1..COM16 on old NT systems

std::wstring withCode(const wchar_t* text, std::uint32_t code) {
    return text + std::to_wstring(code) + L")";
}

std::wstring upperCase(std::wstring text) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
    return text;
}

void note(DiscoveryNotes* notes, std::wstring line) {
    if (notes) notes->push_back(std::move(line));
}

// The selected device as an entry; false, with a note, when it cannot be
// opened or shown. Many drivers give their devices no friendly name (the
// read fails), and a name may be too long for the buffer: such a device is
// listed under its port name ("COM7") and described by it, never dropped.
bool readEntry(PortPlatform& platform, std::uint32_t index, PortEntry& entry, DiscoveryNotes* notes) {
    const std::wstring which = L"device " + std::to_wstring(index);
    if (!platform.interfaceDetail(entry.devicePath)) {
        note(notes, withCode((which + L" left out: its device path could not be read (err=").c_str(),
                             platform.lastError()));
        return false;
    }
    const bool named = platform.friendlyName(entry.displayName);
    const std::uint32_t nameError = named ? 0 : platform.lastError();
    if (!named) entry.displayName.clear();
    if (!platform.deviceDescription(entry.description)) entry.description.clear();
    const bool hasPortName = platform.portName(entry.portName);
    if (!hasPortName || (!named && entry.portName.empty())) {
        note(notes, withCode((which + L" (" + entry.devicePath + L") left out: its names could not be read (err=")
                                 .c_str(),
                             hasPortName ? nameError : platform.lastError()));
        return false;
    }
    if (!named)
        note(notes, withCode((which + L" (" + entry.devicePath + L") listed as " + entry.portName +
                              L": its friendly name could not be read (err=")
                                 .c_str(),
                             nameError));
    entry.bluetooth = isBluetoothDevice(platform.enumeratorName(), platform.hardwareId());
    return true;
}

// Releases the device list however the enumeration ends.
class DeviceListGuard {
public:
    explicit DeviceListGuard(PortPlatform& platform) : platform_(platform) {}
    ~DeviceListGuard() { platform_.releaseDeviceList(); }
    DeviceListGuard(const DeviceListGuard&) = delete;
    DeviceListGuard& operator=(const DeviceListGuard&) = delete;

private:
    PortPlatform& platform_;
};

void enumerateInterfaces(PortPlatform& platform, PortList& list, DiscoveryNotes* notes) {
    if (!platform.openDeviceList()) {
        const std::uint32_t code = platform.lastError();
        platform.releaseDeviceList();
        throw withCode(L"SetupDiGetClassDevs failed. (err=", code);
    }
    DeviceListGuard guard(platform);

    std::uint32_t index = 0;
    for (;; ++index) {
        if (!platform.enumInterface(index)) break;
        PortEntry entry;
        if (readEntry(platform, index, entry, notes)) list.push_back(std::move(entry));
    }
    const std::uint32_t code = platform.lastError();
    if (code != PortPlatform::kErrorNoMoreItems)
        throw withCode(L"SetupDiEnumDeviceInterfaces failed (err=", code);
}

void addFixedPorts(PortList& list) {
    for (std::uint32_t i = 1; i <= kFixedPortCount; ++i) {
        PortEntry entry;
        entry.portName = L"COM" + std::to_wstring(i);
        entry.devicePath = L"\\\\.\\" + entry.portName;
        list.push_back(std::move(entry));
    }
}

}  // namespace

void discoverPorts(PortPlatform& platform, PortList& list, bool probe, DiscoveryNotes* notes) {
    list.clear();

    PortPlatform::OsVersion version;
    if (!platform.queryVersion(version))
        throw withCode(L"Could not get OS version. (err=", platform.lastError());

    if (version.major > 4)
        enumerateInterfaces(platform, list, notes);
    else if (version.platformId == PortPlatform::kPlatformNt)
        addFixedPorts(list);

    for (auto it = list.begin(); it != list.end();) {
        if (probe && !platform.probeOpen(it->devicePath)) {
            it = list.erase(it);
            continue;
        }
        if (it->displayName.empty()) it->displayName = it->portName;
        if (it->description.empty()) it->description = it->displayName;
        ++it;
    }
}

void discoverPorts(PortList& list, bool probe, DiscoveryNotes* notes) {
    auto platform = makeSystemPortPlatform();
    discoverPorts(*platform, list, probe, notes);
}

Result<std::wstring> tryDiscoverPorts(PortPlatform& platform, PortList& list, bool probe, DiscoveryNotes* notes) {
    try {
        discoverPorts(platform, list, probe, notes);
        return {};
    } catch (const std::wstring& message) {
        list.clear();
        return failure(message);
    }
}

Result<std::wstring> tryDiscoverPorts(PortList& list, bool probe, DiscoveryNotes* notes) {
    auto platform = makeSystemPortPlatform();
    return tryDiscoverPorts(*platform, list, probe, notes);
}

bool isBluetoothDevice(const std::wstring& enumerator, const std::wstring& hardwareId) {
    static const std::wstring kBluetooth = L"BTHENUM";
    return upperCase(enumerator) == kBluetooth || upperCase(hardwareId.substr(0, kBluetooth.size() + 1)) == kBluetooth + L"\\";
}

int preselectedIndex(const PortList& list) {
    if (list.empty()) return -1;
    if (list.size() == 1) return 0;
    for (std::size_t i = 0; i < list.size(); ++i)
        if (list[i].displayName.find(L"TUSB") != std::wstring::npos) return static_cast<int>(i);
    return 0;
}
