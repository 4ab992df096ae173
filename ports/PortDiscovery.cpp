#include "PortDiscovery.h"

#include <string>

namespace {

constexpr std::uint32_t kFixedPortCount = 16;   // COM1..COM16 on old NT systems

std::wstring withCode(const wchar_t* text, std::uint32_t code) {
    return text + std::to_wstring(code) + L")";
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

void enumerateInterfaces(PortPlatform& platform, PortList& list) {
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
        if (!platform.interfaceDetail(entry.devicePath))
            throw withCode(L"SetupDiGetDeviceInterfaceDetail failed. (err=", platform.lastError());
        // A device whose names cannot be read is not offered at all.
        if (!platform.friendlyName(entry.displayName)) continue;
        if (!platform.deviceDescription(entry.description)) continue;
        list.push_back(std::move(entry));
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

void discoverPorts(PortPlatform& platform, PortList& list, bool probe) {
    list.clear();

    PortPlatform::OsVersion version;
    if (!platform.queryVersion(version))
        throw withCode(L"Could not get OS version. (err=", platform.lastError());

    if (version.major > 4)
        enumerateInterfaces(platform, list);
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

void discoverPorts(PortList& list, bool probe) {
    auto platform = makeSystemPortPlatform();
    discoverPorts(*platform, list, probe);
}

bool tryDiscoverPorts(PortList& list, bool probe, std::wstring* error) {
    try {
        discoverPorts(list, probe);
        return true;
    } catch (const std::wstring& message) {
        *error = message;
    }
    list.clear();
    return false;
}

int preselectedIndex(const PortList& list) {
    if (list.empty()) return -1;
    if (list.size() == 1) return 0;
    for (std::size_t i = 0; i < list.size(); ++i)
        if (list[i].displayName.find(L"TUSB") != std::wstring::npos) return static_cast<int>(i);
    return 0;
}
