// Port discovery on Windows: the device-setup API lists the present devices
// of the COM-port interface class; after them come the ports that a driver
// registered only under HKLM\HARDWARE\DEVICEMAP\SERIALCOMM (some USB,
// Bluetooth and virtual port drivers do, and so does Wine), offered as further
// interfaces of the same list. CreateFileW tests a port for exclusive use.
// Built only on Windows.

#include "PortPlatform.h"
#include "PortNames.h"
#include "SerialCommPorts.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <setupapi.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <limits>
#include <vector>

namespace {

// GUID_DEVINTERFACE_COMPORT, spelled out so no driver-kit header is needed.
const GUID kComPortInterfaceClass = {0x86E0D1E0, 0x8089, 0x11D0, {0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30, 0x1F, 0x73}};

// The interface detail record is sized for the path it holds (a Bluetooth
// port's interface path runs to about 140 characters); no path is longer
// than this, which bounds what a confused driver can make us allocate.
constexpr DWORD kMostDetailRecordBytes = 64 * 1024;
// Friendly name and description: up to 255 wide characters and the terminator.
constexpr DWORD kNameBufferBytes = 512;
// Registry value names and port names read for the SERIALCOMM ports; a longer
// one is skipped. Windows caps value names at 16383 characters, so a bound is
// ours to choose: device names are short.
constexpr DWORD kValueNameChars = 256;
constexpr DWORD kPortNameChars = 64;
// More devices or registered ports than any machine has; the reads stop there.
constexpr DWORD kMaxListItems = 4096;
constexpr std::uint32_t kNoIndex = std::numeric_limits<std::uint32_t>::max();

// The text of a REG_SZ value read as `bytes` bytes into `text`; empty for
// any other type. The registry does not promise a terminator.
std::wstring stringValue(const WCHAR* text, DWORD type, DWORD bytes) {
    if (type != REG_SZ || bytes % sizeof(WCHAR) != 0) return {};
    return std::wstring(text, wcsnlen(text, bytes / sizeof(WCHAR)));
}

// The "PortName" of a device's hardware key ("COM7"); empty when it has none.
std::wstring devicePortName(HDEVINFO devices, SP_DEVINFO_DATA& device) {
    const HKEY key = SetupDiOpenDevRegKey(devices, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE) return {};
    WCHAR buffer[kPortNameChars + 1];
    std::memset(buffer, 0, sizeof buffer);
    DWORD type = 0;
    DWORD bytes = kPortNameChars * sizeof(WCHAR);
    const LONG status = RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) return {};
    return stringValue(buffer, type, bytes);
}

// The port names of the devices in the device-setup list.
std::vector<std::wstring> listedPortNames(HDEVINFO devices) {
    std::vector<std::wstring> names;
    for (DWORD i = 0; i < kMaxListItems; ++i) {
        SP_DEVINFO_DATA device;
        std::memset(&device, 0, sizeof device);
        device.cbSize = sizeof device;
        if (!SetupDiEnumDeviceInfo(devices, i, &device)) break;
        std::wstring name = devicePortName(devices, device);
        if (!name.empty()) names.push_back(std::move(name));
    }
    return names;
}

// Every port registered under SERIALCOMM, in registry order. A missing key
// (no such driver loaded) is no failure: there are none.
std::vector<RegisteredPort> serialCommPorts() {
    std::vector<RegisteredPort> ports;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS)
        return ports;
    for (DWORD i = 0; i < kMaxListItems; ++i) {
        WCHAR name[kValueNameChars + 1];
        WCHAR data[kPortNameChars + 1];
        std::memset(name, 0, sizeof name);
        std::memset(data, 0, sizeof data);
        DWORD nameChars = kValueNameChars;
        DWORD type = 0;
        DWORD bytes = kPortNameChars * sizeof(WCHAR);
        const LONG status =
            RegEnumValueW(key, i, name, &nameChars, nullptr, &type, reinterpret_cast<BYTE*>(data), &bytes);
        if (status == ERROR_NO_MORE_ITEMS) break;
        if (status != ERROR_SUCCESS) continue;   // too long for a port: skipped
        std::wstring port = stringValue(data, type, bytes);
        if (!port.empty()) ports.push_back(RegisteredPort{std::wstring(name, wcsnlen(name, kValueNameChars)), port});
    }
    RegCloseKey(key);
    return ports;
}

class Win32PortPlatform : public PortPlatform {
public:
    Win32PortPlatform() {
        std::memset(&interface_, 0, sizeof interface_);
        std::memset(&device_, 0, sizeof device_);
    }
    ~Win32PortPlatform() override { releaseDeviceList(); }
    Win32PortPlatform(const Win32PortPlatform&) = delete;
    Win32PortPlatform& operator=(const Win32PortPlatform&) = delete;

    bool queryVersion(OsVersion& version) override {
        OSVERSIONINFOW info;
        std::memset(&info, 0, sizeof info);
        info.dwOSVersionInfoSize = sizeof info;   // the 276-byte wide record
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#elif defined(_MSC_VER)
#pragma warning(push)
#pragma warning(disable : 4996)
#endif
        const BOOL ok = GetVersionExW(&info);
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#elif defined(_MSC_VER)
#pragma warning(pop)
#endif
        if (!ok) return failWithLastError();
        version.major = info.dwMajorVersion;
        version.platformId = info.dwPlatformId;
        return true;
    }

    bool openDeviceList() override {
        releaseDeviceList();
        devices_ = SetupDiGetClassDevsW(&kComPortInterfaceClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        if (devices_ == INVALID_HANDLE_VALUE) return failWithLastError();
        registeredOnly_ = serialCommOnly(serialCommPorts(), listedPortNames(devices_));
        return true;
    }

    // Indexes past the device-setup interfaces select the SERIALCOMM ports.
    bool enumInterface(std::uint32_t index) override {
        registered_ = nullptr;
        if (index < setupCount_) {
            std::memset(&interface_, 0, sizeof interface_);
            // sizeof gives 28 on 32-bit Windows and 32 on 64-bit, as the API expects.
            interface_.cbSize = sizeof(SP_DEVICE_INTERFACE_DATA);
            if (SetupDiEnumDeviceInterfaces(devices_, nullptr, &kComPortInterfaceClass, index, &interface_))
                return true;
            lastError_ = GetLastError();
            if (lastError_ != ERROR_NO_MORE_ITEMS) return false;
            setupCount_ = index;
        }
        const std::size_t extra = index - setupCount_;
        if (extra >= registeredOnly_.size()) {
            lastError_ = ERROR_NO_MORE_ITEMS;
            return false;
        }
        registered_ = &registeredOnly_[extra];
        return true;
    }

    bool interfaceDetail(std::wstring& devicePath) override {
        if (registered_) {
            devicePath = L"\\\\.\\" + registered_->portName;
            return true;
        }
        // Asked for its size first: the call fails with
        // ERROR_INSUFFICIENT_BUFFER and says how many bytes the record needs.
        std::memset(&device_, 0, sizeof device_);
        device_.cbSize = sizeof(SP_DEVINFO_DATA);
        DWORD needed = 0;
        if (!SetupDiGetDeviceInterfaceDetailW(devices_, &interface_, nullptr, 0, &needed, nullptr) &&
            GetLastError() != ERROR_INSUFFICIENT_BUFFER)
            return failWithLastError();
        if (needed < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) || needed > kMostDetailRecordBytes) {
            lastError_ = ERROR_INVALID_DATA;
            return false;
        }
        // Whole wide characters, and a spare terminator for a path that
        // fills the record without one.
        std::vector<DWORD> record((needed + sizeof(WCHAR) + sizeof(DWORD) - 1) / sizeof(DWORD), 0);
        auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_W>(record.data());
        // The size of the fixed part: 6 on 32-bit Windows, 8 on 64-bit.
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        if (!SetupDiGetDeviceInterfaceDetailW(devices_, &interface_, detail, needed, nullptr, &device_))
            return failWithLastError();
        const std::size_t maxChars = (needed - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath)) / sizeof(WCHAR);
        devicePath.assign(detail->DevicePath, wcsnlen(detail->DevicePath, maxChars));
        return true;
    }

    bool portName(std::wstring& name) override {
        name = registered_ ? registered_->portName : devicePortName(devices_, device_);
        return true;
    }

    // A port that only SERIALCOMM lists has no device-setup record; the
    // Bluetooth stack's serial driver names its devices \Device\BthModem<n>.
    std::wstring enumeratorName() override {
        std::wstring name;
        if (!registered_) readProperty(SPDRP_ENUMERATOR_NAME, name);
        else if (_wcsnicmp(registered_->device.c_str(), L"\\Device\\BthModem", 16) == 0) name = L"BTHENUM";
        return name;
    }

    // The first string of the REG_MULTI_SZ list.
    std::wstring hardwareId() override {
        std::wstring id;
        if (!registered_) readProperty(SPDRP_HARDWAREID, id);
        return id;
    }

    // A SERIALCOMM port is shown by its port name, described by its driver's
    // device name.
    bool friendlyName(std::wstring& name) override {
        if (!registered_) return readProperty(SPDRP_FRIENDLYNAME, name);
        name = registered_->portName;
        return true;
    }

    bool deviceDescription(std::wstring& description) override {
        if (!registered_) return readProperty(SPDRP_DEVICEDESC, description);
        description = registered_->device;
        return true;
    }

    void releaseDeviceList() override {
        registered_ = nullptr;
        registeredOnly_.clear();
        setupCount_ = kNoIndex;
        if (devices_ != INVALID_HANDLE_VALUE) {
            SetupDiDestroyDeviceInfoList(devices_);
            devices_ = INVALID_HANDLE_VALUE;
        }
    }

    bool probeOpen(const std::wstring& devicePath) override {
        const HANDLE handle =
            CreateFileW(devicePath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (handle == INVALID_HANDLE_VALUE) return failWithLastError();
        CloseHandle(handle);
        return true;
    }

    std::uint32_t lastError() override { return lastError_; }

private:
    bool readProperty(DWORD property, std::wstring& out) {
        // One spare character keeps the text terminated even when the
        // registry value fills the buffer without a terminator.
        WCHAR buffer[kNameBufferBytes / sizeof(WCHAR) + 1];
        std::memset(buffer, 0, sizeof buffer);
        DWORD type = 0;
        if (!SetupDiGetDeviceRegistryPropertyW(devices_, &device_, property, &type, reinterpret_cast<PBYTE>(buffer),
                                               kNameBufferBytes, nullptr))
            return failWithLastError();
        out.assign(buffer, wcsnlen(buffer, kNameBufferBytes / sizeof(WCHAR)));
        return true;
    }

    bool failWithLastError() {
        lastError_ = GetLastError();
        return false;
    }

    HDEVINFO devices_ = INVALID_HANDLE_VALUE;
    SP_DEVICE_INTERFACE_DATA interface_;
    SP_DEVINFO_DATA device_;
    std::vector<RegisteredPort> registeredOnly_;
    std::uint32_t setupCount_ = kNoIndex;            // known once the device-setup list ran out
    const RegisteredPort* registered_ = nullptr;     // the selected SERIALCOMM port, if any
    std::uint32_t lastError_ = 0;
};

}  // namespace

std::unique_ptr<PortPlatform> makeSystemPortPlatform() { return std::make_unique<Win32PortPlatform>(); }

// CreateFileW opens a COM port by name whether or not its driver lists it.
std::wstring systemPortPath(const std::wstring& name) { return comDevicePath(name); }
