#pragma once
// A scripted stand-in for the operating system's device-setup calls, with a
// log of what the discovery asked for.

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "PortPlatform.h"

struct FakeDevice {
    std::wstring path;
    std::optional<std::wstring> friendlyName;   // nullopt: the read fails
    std::optional<std::wstring> description;
    std::optional<std::wstring> portName = std::wstring();   // its PortName value; nullopt: the read fails
    std::wstring enumerator = L"USB";
    std::wstring hardwareId{};
};

class FakePortPlatform : public PortPlatform {
public:
    // The script.
    bool versionFails = false;
    OsVersion version{10, kPlatformNt};
    bool deviceListFails = false;
    std::vector<FakeDevice> devices;
    std::map<std::uint32_t, std::uint32_t> enumFailsAt;     // index -> error code
    std::map<std::uint32_t, std::uint32_t> detailFailsAt;   // index -> error code
    std::set<std::wstring> busyPaths;                       // the probe cannot open these
    std::uint32_t errorCode = 0;                            // code of the next failure

    // The log.
    int listsOpened = 0;
    int listsReleased = 0;
    bool listOpen = false;
    std::vector<std::wstring> probed;
    std::vector<std::string> calls;

    bool queryVersion(OsVersion& out) override {
        calls.push_back("version");
        if (versionFails) return fail(errorCode);
        out = version;
        return true;
    }
    bool openDeviceList() override {
        calls.push_back("open");
        if (deviceListFails) return fail(errorCode);
        ++listsOpened;
        listOpen = true;
        return true;
    }
    bool enumInterface(std::uint32_t index) override {
        calls.push_back("enum " + std::to_string(index));
        if (!listOpen) return fail(6);   // ERROR_INVALID_HANDLE
        auto it = enumFailsAt.find(index);
        if (it != enumFailsAt.end()) return fail(it->second);
        if (index >= devices.size()) return fail(kErrorNoMoreItems);
        current_ = index;
        return true;
    }
    bool interfaceDetail(std::wstring& path) override {
        calls.push_back("detail " + std::to_string(current_));
        auto it = detailFailsAt.find(current_);
        if (it != detailFailsAt.end()) return fail(it->second);
        path = devices[current_].path;
        return true;
    }
    bool friendlyName(std::wstring& name) override {
        calls.push_back("name " + std::to_string(current_));
        if (!devices[current_].friendlyName) return fail(122);
        name = *devices[current_].friendlyName;
        return true;
    }
    bool deviceDescription(std::wstring& description) override {
        calls.push_back("description " + std::to_string(current_));
        if (!devices[current_].description) return fail(122);
        description = *devices[current_].description;
        return true;
    }
    bool portName(std::wstring& name) override {
        calls.push_back("port name " + std::to_string(current_));
        if (!devices[current_].portName) return fail(5);
        name = *devices[current_].portName;
        return true;
    }
    std::wstring enumeratorName() override { return devices[current_].enumerator; }
    std::wstring hardwareId() override { return devices[current_].hardwareId; }
    void releaseDeviceList() override {
        calls.push_back("release");
        if (listOpen) ++listsReleased;
        listOpen = false;
        lastError_ = 0;   // a successful clean-up call resets the system's last error too
    }
    bool probeOpen(const std::wstring& path) override {
        probed.push_back(path);
        if (busyPaths.count(path)) return fail(5);   // ERROR_ACCESS_DENIED
        return true;
    }
    std::uint32_t lastError() override { return lastError_; }

private:
    bool fail(std::uint32_t code) {
        lastError_ = code;
        return false;
    }
    std::uint32_t current_ = 0;
    std::uint32_t lastError_ = 0;
};
