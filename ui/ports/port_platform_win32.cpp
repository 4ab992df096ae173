// Port discovery on Windows: the device-setup API lists the present devices
// of the COM-port interface class; CreateFileW tests a port for exclusive use.
// Built only on Windows.

#include "PortPlatform.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <setupapi.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <cwchar>

namespace {

// GUID_DEVINTERFACE_COMPORT, spelled out so no driver-kit header is needed.
const GUID kComPortInterfaceClass = {0x86E0D1E0, 0x8089, 0x11D0, {0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30, 0x1F, 0x73}};

// The interface detail record: the size field and up to 129 wide characters
// of device path including its terminator. A longer path fails the query.
constexpr DWORD kDetailRecordBytes = 262;
// Friendly name and description: up to 255 wide characters and the terminator.
constexpr DWORD kNameBufferBytes = 512;

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
        detail_ = static_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_W>(std::malloc(kDetailRecordBytes));
        if (!detail_) {
            lastError_ = ERROR_NOT_ENOUGH_MEMORY;
            return false;
        }
        return true;
    }

    bool enumInterface(std::uint32_t index) override {
        std::memset(&interface_, 0, sizeof interface_);
        // sizeof gives 28 on 32-bit Windows and 32 on 64-bit, as the API expects.
        interface_.cbSize = sizeof(SP_DEVICE_INTERFACE_DATA);
        if (!SetupDiEnumDeviceInterfaces(devices_, nullptr, &kComPortInterfaceClass, index, &interface_))
            return failWithLastError();
        return true;
    }

    bool interfaceDetail(std::wstring& devicePath) override {
        if (!detail_) {
            lastError_ = ERROR_INVALID_PARAMETER;
            return false;
        }
        std::memset(detail_, 0, kDetailRecordBytes);
        // The size of the fixed part: 6 on 32-bit Windows, 8 on 64-bit.
        detail_->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        std::memset(&device_, 0, sizeof device_);
        device_.cbSize = sizeof(SP_DEVINFO_DATA);
        if (!SetupDiGetDeviceInterfaceDetailW(devices_, &interface_, detail_, kDetailRecordBytes, nullptr, &device_))
            return failWithLastError();
        const std::size_t maxChars =
            (kDetailRecordBytes - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath)) / sizeof(WCHAR);
        devicePath.assign(detail_->DevicePath, wcsnlen(detail_->DevicePath, maxChars));
        return true;
    }

    bool friendlyName(std::wstring& name) override { return readProperty(SPDRP_FRIENDLYNAME, name); }

    bool deviceDescription(std::wstring& description) override { return readProperty(SPDRP_DEVICEDESC, description); }

    void releaseDeviceList() override {
        std::free(detail_);
        detail_ = nullptr;
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
    PSP_DEVICE_INTERFACE_DETAIL_DATA_W detail_ = nullptr;
    SP_DEVICE_INTERFACE_DATA interface_;
    SP_DEVINFO_DATA device_;
    std::uint32_t lastError_ = 0;
};

}  // namespace

std::unique_ptr<PortPlatform> makeSystemPortPlatform() { return std::make_unique<Win32PortPlatform>(); }
