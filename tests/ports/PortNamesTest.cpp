// Ports named the way people see them: path, node name, display name.
#include <gtest/gtest.h>

#include "PortNames.h"

namespace {

const PortList kPorts = {
    {L"/dev/ttyUSB0", L"", L"TUSB3410 Microcontroller (ttyUSB0)", L"TUSB3410"},
    {L"/dev/ttyUSB1", L"", L"USB Serial", L"FT232"},
    {L"/dev/ttyUSB2", L"", L"USB Serial", L"FT232"},
    {L"/dev/pts/7", L"", L"Hub 1", L"Виртуальный порт -> /dev/pts/7"},
    {L"\\\\.\\COM3", L"COM3", L"COM3", L"COM3"},
};

TEST(PortNames, EachKindOfNameFindsItsPortAndTwinNamesAreAmbiguous) {
    const struct {
        const wchar_t* name;
        std::vector<std::wstring> paths;
    } cases[] = {
        {L"/dev/ttyUSB1", {L"/dev/ttyUSB1"}},
        {L"ttyUSB0", {L"/dev/ttyUSB0"}},
        {L"TUSB3410 Microcontroller (ttyUSB0)", {L"/dev/ttyUSB0"}},
        {L"Hub 1", {L"/dev/pts/7"}},
        {L"COM3", {L"\\\\.\\COM3"}},
        {L"USB Serial", {L"/dev/ttyUSB1", L"/dev/ttyUSB2"}},
        {L"Hub", {}},          // display names match whole, never in part
        {L"hub 1", {}},        // nor in another case
        {L"ttyUSB9", {}},
        {L"", {}},
    };
    for (const auto& c : cases) {
        std::vector<std::wstring> paths;
        for (const PortEntry& entry : portsNamed(kPorts, c.name)) paths.push_back(entry.devicePath);
        EXPECT_EQ(paths, c.paths) << std::string(c.name, c.name + std::wcslen(c.name));
    }
}

TEST(PortNames, PathsAreTakenAsTheyStand) {
    EXPECT_TRUE(isDevicePath(L"/dev/pts/3"));
    EXPECT_TRUE(isDevicePath(L"\\\\.\\COM12"));
    EXPECT_FALSE(isDevicePath(L"ttyUSB0"));
    EXPECT_FALSE(isDevicePath(L"TUSB3410 Microcontroller (ttyUSB0)"));
}

}  // namespace

TEST(PortNames, WindowsPortNamesBecomeDevicePaths) {
    const struct {
        const wchar_t* name;
        const wchar_t* path;
    } cases[] = {
        {L"COM5", L"\\\\.\\COM5"},    {L"com7", L"\\\\.\\COM7"},  {L"Com256", L"\\\\.\\COM256"},
        {L"COM1", L"\\\\.\\COM1"},    {L"COM0", L""},             {L"COM05", L""},
        {L"COM257", L""},             {L"COM", L""},              {L"COM5 ", L""},
        {L"COMX", L""},               {L"LPT1", L""},             {L"ttyUSB0", L""},
        {L"COM1234", L""},            {L"\\\\.\\COM5", L""},
    };
    for (const auto& c : cases) EXPECT_EQ(comDevicePath(c.name), std::wstring(c.path));
}
