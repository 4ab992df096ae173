#pragma once
// The few operating-system calls port discovery needs, shaped after the
// Windows device-setup API so that the discovery logic is written once and
// can be driven by a fake in tests. Every failing call leaves its code for
// lastError().

#include <cstdint>
#include <memory>
#include <string>

class PortPlatform {
public:
    // Windows' "no more items": the normal end of an enumeration.
    static constexpr std::uint32_t kErrorNoMoreItems = 259;
    // VER_PLATFORM_WIN32_NT.
    static constexpr std::uint32_t kPlatformNt = 2;

    struct OsVersion {
        std::uint32_t major = 0;
        std::uint32_t platformId = 0;
    };

    virtual ~PortPlatform() = default;

    virtual bool queryVersion(OsVersion& version) = 0;

    // Opens the list of present serial-port device interfaces.
    virtual bool openDeviceList() = 0;
    // Selects interface `index` (from 0) of the open list.
    virtual bool enumInterface(std::uint32_t index) = 0;
    // The selected interface's device path; selects its device for the
    // two name reads below.
    virtual bool interfaceDetail(std::wstring& devicePath) = 0;
    virtual bool friendlyName(std::wstring& name) = 0;
    virtual bool deviceDescription(std::wstring& description) = 0;
    // The selected device's port name ("COM5", its PortName registry value);
    // empty, and true, when it has none. False when the read failed.
    virtual bool portName(std::wstring& name) {
        name.clear();
        return true;
    }
    // The selected device's enumerator ("USB", "BTHENUM") and first hardware
    // id ("BTHENUM\{...}"); empty where the platform has none or cannot say.
    virtual std::wstring enumeratorName() { return {}; }
    virtual std::wstring hardwareId() { return {}; }
    // Releases the list and any buffer the enumeration holds; harmless when
    // nothing is open.
    virtual void releaseDeviceList() = 0;

    // Opens `devicePath` exclusively for reading and writing and closes it
    // at once; true when the open succeeded.
    virtual bool probeOpen(const std::wstring& devicePath) = 0;

    virtual std::uint32_t lastError() = 0;
};

// The platform of the machine the program runs on.
std::unique_ptr<PortPlatform> makeSystemPortPlatform();
