// Names a technician gives (--port COM5, --wait --port COM5, --all --match
// COM5) resolved against device-setup entries as Windows lists them: an
// interface path, a friendly name and a port name. Each opens \\.\COMn and
// is recorded as COMn.

#include <gtest/gtest.h>

#include <QChar>

#include "FakePortPlatform.h"
#include "PortDiscovery.h"
#include "PortNames.h"

namespace {

PortList laptopPorts() {
    FakePortPlatform platform;
    platform.devices = {
        {L"\\\\?\\ftdibus#vid_0403+pid_6001#{86e0d1e0}", L"USB Serial Port (COM5)", L"USB Serial Port", L"COM5"},
        {L"\\\\?\\usb#vid_0451&pid_3410#{86e0d1e0}", L"TUSB3410 Device", L"TUSB3410", L"COM12"},
        {L"\\\\?\\bthenum#{00001101}_localmfg#{86e0d1e0}", L"Standard Serial over Bluetooth link (COM8)",
         L"Serial over Bluetooth", L"COM8", L"BTHENUM"},
        {L"\\\\?\\acpi#pnp0501#{86e0d1e0}", L"Communications Port", L"Communications Port", L""},
    };
    PortList list;
    discoverPorts(platform, list, false);
    return list;
}

}  // namespace

TEST(PortResolution, PortNamesOpenTheComDeviceAndAreRecordedByName) {
    const PortList ports = laptopPorts();
    ASSERT_EQ(ports.size(), 4u);
    const struct {
        const wchar_t* name;
        const wchar_t* path;
        const wchar_t* label;
        std::size_t matches;
    } cases[] = {
        {L"COM5", L"\\\\.\\COM5", L"COM5", 1},
        {L"com12", L"\\\\.\\COM12", L"COM12", 1},   // the friendly name does not say it
        {L"USB Serial Port (COM5)", L"\\\\.\\COM5", L"COM5", 1},
        {L"Communications Port", L"\\\\?\\acpi#pnp0501#{86e0d1e0}", L"Communications Port", 1},
        {L"COM1", L"", L"", 0},
    };
    for (const auto& c : cases) {
        const ResolvedPort r = resolvePortName(&ports, c.name);
        const std::string what(c.name, c.name + std::wcslen(c.name));
        EXPECT_EQ(r.matches, c.matches) << what;
        if (c.matches == 1) {
            EXPECT_EQ(r.devicePath, c.path) << what;
            EXPECT_EQ(r.label, c.label) << what;
        } else {
            // Not listed: only the system's own name for it (Windows) opens it.
            EXPECT_EQ(r.devicePath, systemPortPath(c.name)) << what;
        }
    }
    // The ledger's port column.
    EXPECT_EQ(shownPortName(L"\\\\.\\COM8"), L"COM8");
    EXPECT_EQ(shownPortName(L"\\\\.\\com8"), L"COM8");
    EXPECT_EQ(shownPortName(L"\\\\?\\usb#vid_0451"), L"\\\\?\\usb#vid_0451");
    EXPECT_EQ(shownPortName(L"/dev/ttyUSB0"), L"/dev/ttyUSB0");
}

TEST(PortResolution, AllTakesEveryPortButBluetoothUnlessTheMatchPicksIt) {
    const PortList ports = laptopPorts();
    const struct {
        const wchar_t* match;
        std::vector<std::wstring> labels;
    } cases[] = {
        {L"", {L"COM5", L"COM12", L"Communications Port"}},
        {L"COM5", {L"COM5"}},
        {L"com12", {L"COM12"}},        // by its port name alone
        {L"bluetooth", {L"COM8"}},     // named: taken
        {L"COM", {L"COM5", L"COM12", L"COM8", L"Communications Port"}},
    };
    for (const auto& c : cases) {
        std::vector<std::wstring> labels;
        for (const PortEntry& entry : ports)
            if (fleetTakes(entry, c.match)) labels.push_back(portLabel(entry));
        EXPECT_EQ(labels, c.labels) << std::string(c.match, c.match + std::wcslen(c.match));
    }
    PortEntry russian{L"p", L"", L"Последовательный порт USB (COM3)", L"", false};
    EXPECT_TRUE(fleetTakes(russian, L"ПОРТ"));
}

// --match holds in any case for every letter a port name comes in: each
// Latin and Cyrillic letter (Ѐ to я, Ё and the other letters of the
// Cyrillic block's first row) against every other; Unicode's case pairs
// say which two are one letter.
TEST(PortResolution, MatchIgnoresCaseForEveryLatinAndCyrillicLetter) {
    std::vector<wchar_t> letters;
    for (wchar_t c = L'A'; c <= L'Z'; ++c) letters.insert(letters.end(), {c, static_cast<wchar_t>(c + 32)});
    for (wchar_t c = 0x0400; c <= 0x045F; ++c) letters.push_back(c);
    int wrong = 0;
    for (const wchar_t named : letters)
        for (const wchar_t match : letters) {
            const PortEntry entry{L"/dev/ttyUSB0", L"", std::wstring(1, named), L"", false};
            const bool same = QChar(named).toUpper() == QChar(match).toUpper();
            if (fleetTakes(entry, std::wstring(1, match)) != same && ++wrong <= 5)
                ADD_FAILURE() << "U+" << std::hex << int(named) << " matched by U+" << int(match) << ": " << !same;
        }
    EXPECT_EQ(wrong, 0);
}
