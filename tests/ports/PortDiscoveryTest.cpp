// Port discovery against a scripted platform: the version branches, the
// fixed list, the probe, the name fill-in and every row of the failure table;
// and the choice of the SERIALCOMM ports that Windows discovery appends.

#include <gtest/gtest.h>

#include <iterator>

#include "FakePortPlatform.h"
#include "PortDiscovery.h"
#include "SerialCommPorts.h"

namespace {

std::wstring discoveryError(FakePortPlatform& platform, PortList& list, bool probe = false) {
    try {
        discoverPorts(platform, list, probe);
    } catch (const std::wstring& message) {
        return message;
    }
    return L"";
}

FakePortPlatform threeDevices() {
    FakePortPlatform platform;
    platform.devices = {
        {L"\\\\?\\usb#a", L"TUSB3410 Device (COM3)", L"TUSB3410 Device"},
        {L"\\\\?\\acpi#b", L"Communications Port (COM1)", L"Communications Port"},
        {L"\\\\?\\usb#c", L"USB Serial Port (COM7)", L"USB Serial Port"},
    };
    return platform;
}

std::vector<std::wstring> pathsOf(const PortList& list) {
    std::vector<std::wstring> paths;
    for (const auto& entry : list) paths.push_back(entry.devicePath);
    return paths;
}

}  // namespace

TEST(PortDiscovery, EnumeratesPresentDevicesInIndexOrderAndRepeatsTheSameList) {
    FakePortPlatform platform = threeDevices();
    PortList list = {PortEntry{L"stale", L"stale", L"stale", L"stale"}};
    discoverPorts(platform, list, false);

    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].devicePath, L"\\\\?\\usb#a");
    EXPECT_EQ(list[0].portName, L"");
    EXPECT_EQ(list[0].displayName, L"TUSB3410 Device (COM3)");
    EXPECT_EQ(list[0].description, L"TUSB3410 Device");
    EXPECT_EQ(list[1].displayName, L"Communications Port (COM1)");
    EXPECT_EQ(list[2].devicePath, L"\\\\?\\usb#c");
    EXPECT_TRUE(platform.probed.empty()) << "nothing is opened without probe";
    EXPECT_EQ(platform.listsOpened, 1);
    EXPECT_EQ(platform.listsReleased, 1);

    PortList again;
    discoverPorts(platform, again, false);
    EXPECT_EQ(pathsOf(again), pathsOf(list));
}

TEST(PortDiscovery, VersionBranches) {
    {   // any platform above major version 4 enumerates
        FakePortPlatform platform = threeDevices();
        platform.version = {5, 1};
        PortList list;
        discoverPorts(platform, list, false);
        EXPECT_EQ(list.size(), 3u);
    }
    {   // NT 4: the fixed COM1..COM16, never enumerated
        FakePortPlatform platform = threeDevices();
        platform.version = {4, PortPlatform::kPlatformNt};
        PortList list;
        discoverPorts(platform, list, false);
        ASSERT_EQ(list.size(), 16u);
        for (int i = 0; i < 16; ++i) {
            const std::wstring name = L"COM" + std::to_wstring(i + 1);
            EXPECT_EQ(list[i].portName, name);
            EXPECT_EQ(list[i].devicePath, L"\\\\.\\" + name);
            EXPECT_EQ(list[i].displayName, name);
            EXPECT_EQ(list[i].description, name);
        }
        EXPECT_EQ(platform.listsOpened, 0);
        EXPECT_TRUE(platform.probed.empty());
    }
    {   // neither: an empty list and no error
        FakePortPlatform platform = threeDevices();
        platform.version = {4, 1};
        PortList list = {PortEntry{}};
        EXPECT_EQ(discoveryError(platform, list), L"");
        EXPECT_TRUE(list.empty());
        EXPECT_EQ(platform.listsOpened, 0);
    }
}

TEST(PortDiscovery, VersionQueryFailure) {
    FakePortPlatform platform = threeDevices();
    platform.versionFails = true;
    platform.errorCode = 87;
    PortList list = {PortEntry{}};
    EXPECT_EQ(discoveryError(platform, list), L"Could not get OS version. (err=87)");
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(platform.listsOpened, 0);
}

TEST(PortDiscovery, DeviceListFailureIsRaisedWithItsCode) {
    FakePortPlatform platform = threeDevices();
    platform.deviceListFails = true;
    platform.errorCode = 13;
    PortList list;
    EXPECT_EQ(discoveryError(platform, list), L"SetupDiGetClassDevs failed. (err=13)");
    EXPECT_TRUE(list.empty());
}

// Device setup as a technician's laptop has it: every entry carries its port
// name; a Bluetooth port's long interface path sits among the others and is
// marked; a device whose path or port name cannot be read is left out with
// a note, never emptying the list.
TEST(PortDiscovery, DeviceSetupEntriesCarryPortNamesAndOneBadDeviceIsLeftOutWithANote) {
    const std::wstring bluetoothPath =
        L"\\\\?\\BTHENUM#{00001101-0000-1000-8000-00805f9b34fb}_LOCALMFG&0002#7&2b3c4d5e&0&"
        L"001122334455_C00000000#{86e0d1e0-8089-11d0-9ce4-08003e301f73}-and-more";
    ASSERT_GE(bluetoothPath.size(), 140u);
    FakePortPlatform platform;
    platform.devices = {
        {L"\\\\?\\usb#a", L"USB Serial Port (COM5)", L"USB Serial Port", L"COM5"},
        {bluetoothPath, L"Standard Serial over Bluetooth link (COM8)", L"Serial over Bluetooth", L"COM8",
         L"BTHENUM", L"BTHENUM\\{00001101-0000-1000-8000-00805f9b34fb}"},
        {L"\\\\?\\usb#b", L"Broken", L"Broken", L"COM6"},
        {L"\\\\?\\usb#c", L"No port name", L"Other", std::nullopt},
        {L"\\\\?\\ftdi#d", L"USB Serial Port (COM9)", L"FTDI", L"COM9", L"FTDIBUS",
         L"bthenum\\{lookalike}"},
    };
    platform.detailFailsAt[2] = 122;
    PortList list;
    DiscoveryNotes notes;
    discoverPorts(platform, list, false, &notes);

    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].portName, L"COM5");
    EXPECT_FALSE(list[0].bluetooth);
    EXPECT_EQ(list[1].devicePath, bluetoothPath);
    EXPECT_EQ(list[1].portName, L"COM8");
    EXPECT_TRUE(list[1].bluetooth);
    EXPECT_EQ(list[2].portName, L"COM9");
    EXPECT_TRUE(list[2].bluetooth) << "a hardware id under BTHENUM\\ is Bluetooth in any case";
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[0], L"device 2 left out: its device path could not be read (err=122)");
    EXPECT_EQ(notes[1], L"device 3 (\\\\?\\usb#c) left out: its names could not be read (err=5)");
    EXPECT_FALSE(platform.listOpen);
    EXPECT_EQ(platform.listsReleased, 1);
    EXPECT_TRUE(isBluetoothDevice(L"bthenum", L""));
    EXPECT_FALSE(isBluetoothDevice(L"USB", L"BTHENUMX\\x"));
}

TEST(PortDiscovery, EnumerationFailureOtherThanTheEndReleasesTheListThenRaises) {
    FakePortPlatform platform = threeDevices();
    platform.enumFailsAt[2] = 8;
    PortList list;
    EXPECT_EQ(discoveryError(platform, list), L"SetupDiEnumDeviceInterfaces failed (err=8)");
    EXPECT_FALSE(platform.listOpen);
    EXPECT_EQ(platform.listsReleased, 1);

    FakePortPlatform empty;
    PortList none;
    EXPECT_EQ(discoveryError(empty, none), L"") << "no device at all is the normal end";
    EXPECT_TRUE(none.empty());
    EXPECT_EQ(empty.listsReleased, 1);
}

// A driver that gives its device no friendly name (the read fails) or a
// name too long to read still has its port listed, under its port name; only
// a device with no name at all to show is left out, and the list goes on.
TEST(PortDiscovery, ADeviceWhoseFriendlyNameCannotBeReadIsListedUnderItsPortName) {
    FakePortPlatform platform;
    platform.devices = {
        {L"USB#a", std::nullopt, L"USB Serial Port", L"COM5"},
        {L"USB#b", std::nullopt, std::nullopt, L"COM6"},
        {L"USB#c", L"USB Serial Port (COM7)", std::nullopt, L"COM7"},
        {L"USB#d", std::nullopt, L"Nameless", L""},
        {L"USB#e", L"USB Serial Port (COM9)", L"USB Serial Port", L"COM9"},
    };
    PortList list;
    DiscoveryNotes notes;
    discoverPorts(platform, list, false, &notes);

    const struct {
        const wchar_t* path;
        const wchar_t* shown;
        const wchar_t* description;
    } expected[] = {
        {L"USB#a", L"COM5", L"USB Serial Port"},
        {L"USB#b", L"COM6", L"COM6"},
        {L"USB#c", L"USB Serial Port (COM7)", L"USB Serial Port (COM7)"},
        {L"USB#e", L"USB Serial Port (COM9)", L"USB Serial Port"},
    };
    ASSERT_EQ(list.size(), std::size(expected));
    for (std::size_t i = 0; i < list.size(); ++i) {
        EXPECT_EQ(list[i].devicePath, expected[i].path);
        EXPECT_EQ(list[i].displayName, expected[i].shown);
        EXPECT_EQ(list[i].description, expected[i].description);
    }
    EXPECT_EQ(notes, (DiscoveryNotes{L"device 0 (USB#a) listed as COM5: its friendly name could not be read (err=122)",
                                     L"device 1 (USB#b) listed as COM6: its friendly name could not be read (err=122)",
                                     L"device 3 (USB#d) left out: its names could not be read (err=122)"}));
    EXPECT_EQ(platform.listsReleased, 1);
}

TEST(PortDiscovery, EmptyNamesAreFilledIn) {
    FakePortPlatform platform;
    platform.devices = {{L"p0", L"", L"Described"}, {L"p1", L"Named", L""}, {L"p2", L"", L""}};
    PortList list;
    discoverPorts(platform, list, false);
    ASSERT_EQ(list.size(), 3u);
    // An enumerated device has no port name, so an empty display name stays empty.
    EXPECT_EQ(list[0].displayName, L"");
    EXPECT_EQ(list[0].description, L"Described");
    EXPECT_EQ(list[1].description, L"Named");
    EXPECT_EQ(list[2].displayName, L"");
    EXPECT_EQ(list[2].description, L"");
}

TEST(PortDiscovery, ProbeDropsBusyPortsAndKeepsTheOrderOfTheOthers) {
    FakePortPlatform platform = threeDevices();
    platform.devices.push_back({L"\\\\?\\usb#d", L"D", L"D"});
    platform.busyPaths = {L"\\\\?\\usb#a", L"\\\\?\\usb#c"};
    PortList list;
    discoverPorts(platform, list, true);
    EXPECT_EQ(pathsOf(list), (std::vector<std::wstring>{L"\\\\?\\acpi#b", L"\\\\?\\usb#d"}));
    EXPECT_EQ(platform.probed.size(), 4u) << "every entry is probed once, the one after a dropped one too";

    FakePortPlatform nt;
    nt.version = {4, PortPlatform::kPlatformNt};
    nt.busyPaths = {L"\\\\.\\COM1", L"\\\\.\\COM2", L"\\\\.\\COM16"};
    PortList fixed;
    discoverPorts(nt, fixed, true);
    ASSERT_EQ(fixed.size(), 13u);
    EXPECT_EQ(fixed.front().portName, L"COM3");
    EXPECT_EQ(fixed.back().portName, L"COM15");
}

TEST(PortDiscovery, PreselectedIndex) {
    const auto listOf = [](std::initializer_list<const wchar_t*> names) {
        PortList list;
        for (const wchar_t* name : names) list.push_back(PortEntry{L"p", L"", name, L""});
        return list;
    };
    EXPECT_EQ(preselectedIndex({}), -1);
    EXPECT_EQ(preselectedIndex(listOf({L"Anything"})), 0);
    EXPECT_EQ(preselectedIndex(listOf({L"A", L"B", L"C"})), 0);
    EXPECT_EQ(preselectedIndex(listOf({L"A", L"TUSB3410 (ttyUSB0)", L"TUSB3410 (ttyUSB1)"})), 1);
    EXPECT_EQ(preselectedIndex(listOf({L"A", L"tusb3410 (ttyUSB0)", L"B"})), 0) << "the match is case-sensitive";
}

// The SERIALCOMM ports Windows discovery appends: each row is what the
// registry holds (device name, port name), the port names the device-setup
// list already has, and the port names that follow, in order.
TEST(SerialCommPorts, OnlyUnlistedPortsEachOnceInPortNumberOrder) {
    struct Row {
        const char* what;
        std::vector<RegisteredPort> registered;
        std::vector<std::wstring> listed;
        std::vector<std::wstring> expected;
    };
    const std::vector<Row> rows = {
        {"numbers, not text, give the order", {{L"a", L"COM10"}, {L"b", L"COM2"}, {L"c", L"COM1"}}, {},
         {L"COM1", L"COM2", L"COM10"}},
        {"a listed port is not repeated, whatever its case", {{L"a", L"com3"}, {L"b", L"COM4"}}, {L"COM3"},
         {L"COM4"}},
        {"a port registered twice comes once", {{L"a", L"COM5"}, {L"b", L"Com5"}, {L"c", L"COM5"}}, {}, {L"COM5"}},
        {"other names follow the COM ports in name order",
         {{L"a", L"CNCB0"}, {L"b", L"COM12"}, {L"c", L"CNCA0"}, {L"d", L"COMX"}}, {},
         {L"COM12", L"CNCA0", L"CNCB0", L"COMX"}},
        {"names no device path can hold are left out",
         {{L"a", L""}, {L"b", L"..\\PIPE"}, {L"c", L"COM 1"}, {L"d", std::wstring(65, L'C')}, {L"e", L"COM6"}}, {},
         {L"COM6"}},
        {"nothing registered", {}, {L"COM1"}, {}},
    };
    for (const Row& row : rows) {
        std::vector<std::wstring> got;
        for (const RegisteredPort& port : serialCommOnly(row.registered, row.listed)) got.push_back(port.portName);
        EXPECT_EQ(got, row.expected) << row.what;
    }
    // The first registration names the device.
    const auto ports = serialCommOnly({{L"\\Device\\VCP0", L"COM5"}, {L"\\Device\\Serial1", L"COM5"}}, {});
    ASSERT_EQ(ports.size(), 1u);
    EXPECT_EQ(ports[0].device, L"\\Device\\VCP0");
}

// Without throwing, a discovery that fails says why, and leaves no list to
// show: never a stale list, nor the part read before the failure.
TEST(PortDiscovery, AFailureComesBackWithItsReasonAndNoList) {
    const struct {
        const char* what;
        void (*script)(FakePortPlatform&);
        std::wstring why;
    } cases[] = {
        {"the version", [](FakePortPlatform& p) { p.versionFails = true, p.errorCode = 87; },
         L"Could not get OS version. (err=87)"},
        {"the device list", [](FakePortPlatform& p) { p.deviceListFails = true, p.errorCode = 13; },
         L"SetupDiGetClassDevs failed. (err=13)"},
        {"the third device", [](FakePortPlatform& p) { p.enumFailsAt[2] = 8; },
         L"SetupDiEnumDeviceInterfaces failed (err=8)"},
        {"nothing", [](FakePortPlatform&) {}, L""},
    };
    for (const auto& c : cases) {
        FakePortPlatform platform = threeDevices();
        c.script(platform);
        PortList list = {PortEntry{L"/dev/stale", L"", L"stale", L"left from before"}};
        const Result<std::wstring> listed = tryDiscoverPorts(platform, list, false);
        EXPECT_EQ(bool(listed), c.why.empty()) << c.what;
        EXPECT_EQ(listed.why(), c.why) << c.what;
        EXPECT_EQ(list.size(), c.why.empty() ? 3u : 0u) << c.what;
    }
}
