// The Win32 transport and the link above it, run for real: cross-built with
// mingw-w64 and started under Wine by win32_link_driver, which puts a
// simulated station behind the COM port named on the command line and checks
// the frames the station saw. Each case expects the station the driver set up
// for it.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "Crc16Table.h"
#include "PortDiscovery.h"
#include "PortNames.h"
#include "RLComPort.h"
#include "SerialPort.h"
#include "StationConnection.h"
#include "StationSequence.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using std::chrono::milliseconds;

std::wstring gPort;   // \\.\COMn

// The driver looks for these lines to check what the link handed back.
void report(const char* label, const std::uint8_t* bytes, int count) {
    std::printf("%s:", label);
    for (int i = 0; i < count; ++i) std::printf(" %02X", bytes[i]);
    std::printf("\n");
    std::fflush(stdout);
}

milliseconds since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - start);
}

// Reads until `count` bytes are in or a read brings nothing.
int readAll(SerialPort& port, std::uint8_t* dest, int count) {
    int have = 0;
    while (have < count) {
        const int n = port.read(dest + have, count - have);
        if (n <= 0) break;
        have += n;
    }
    return have;
}

bool send(SerialPort& port, const Bytes& frame) { return port.write(frame.data(), static_cast<int>(frame.size())); }

}  // namespace

TEST(Win32Link, OpensTheComPortForItselfAlone) {
    SerialPort first;
    ASSERT_TRUE(first.open(gPort, 57600));
    // Opening again closes the first handle before it claims the port anew.
    ASSERT_TRUE(first.open(gPort, 57600));

    SerialPort second;
    EXPECT_FALSE(second.open(gPort, 57600));
    EXPECT_FALSE(second.isOpen());
    EXPECT_TRUE(first.isOpen());

    first.close();
    EXPECT_TRUE(second.open(gPort, 57600));

    SerialPort missing;
    EXPECT_FALSE(missing.open(L"\\\\.\\COM199", 57600));
    EXPECT_FALSE(missing.open(L"", 57600));
    std::uint8_t untouched = 0x55;
    EXPECT_EQ(missing.read(&untouched, 1), -1);
    EXPECT_EQ(untouched, 0x55);
    EXPECT_FALSE(missing.write(&untouched, 1));
}

TEST(Win32Link, ExchangesTheWorkedFrames) {
    SerialPort port;
    ASSERT_TRUE(port.open(gPort, 57600));
    RLComPort link;
    link.setPort(&port);
    std::uint8_t head[16] = {};
    std::uint8_t version[2] = {};
    ASSERT_TRUE(link.readMemory(0xC000, MemoryKind::Rom16, 16, head));
    ASSERT_TRUE(link.readMemory(0x0B00, MemoryKind::Ram16, 2, version));
    EXPECT_TRUE(link.sendRestart());
    report("head", head, 16);
    report("version", version, 2);
}

TEST(Win32Link, SilentLineGivesNothingAfterTheTotalTimeout) {
    SerialPort port;
    ASSERT_TRUE(port.open(gPort, 57600));
    std::uint8_t rx[3] = {};
    // The station speaks only when asked: 1000 ms + 100 ms a byte of silence.
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(port.read(rx, 3), 0);
    EXPECT_GE(since(start), milliseconds(1300));

    ASSERT_TRUE(port.setReadTimeout(200));
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(port.read(rx, 1), 0);
    EXPECT_GE(since(start), milliseconds(300));
}

TEST(Win32Link, ReassemblesAReplyThatComesInPieces) {
    // The driver's station sends every reply two bytes at a time, 50 ms apart.
    SerialPort port;
    ASSERT_TRUE(port.open(gPort, 57600));
    ASSERT_TRUE(send(port, win32_check::headRequest()));
    std::uint8_t rx[21] = {};
    // A pause longer than the 2 ms gap ends the read with what has come.
    EXPECT_EQ(port.read(rx, 21), 2);
    EXPECT_EQ(readAll(port, rx + 2, 19), 19);
    EXPECT_TRUE(Crc16Table().checkCrc(rx, 21));

    RLComPort link;
    link.setPort(&port);
    std::uint8_t head[16] = {};
    ASSERT_TRUE(link.readMemory(0xC000, MemoryKind::Rom16, 16, head));
    report("head", head, 16);
}

TEST(Win32Link, DiscardsStaleInputBeforeAWrite) {
    SerialPort port;
    ASSERT_TRUE(port.open(gPort, 57600));
    ASSERT_TRUE(send(port, win32_check::headRequest()));
    // Only the header is taken; the other 18 bytes of the reply stay queued.
    std::uint8_t rx[21] = {};
    ASSERT_EQ(port.read(rx, 3), 3);
    EXPECT_EQ(rx[0], 0xAD);

    ASSERT_TRUE(send(port, win32_check::versionRequest()));
    std::uint8_t reply[7] = {};
    ASSERT_EQ(readAll(port, reply, 7), 7);
    EXPECT_EQ(reply[0], 0xAD);
    EXPECT_EQ(reply[1], 2);
    EXPECT_TRUE(Crc16Table().checkCrc(reply, 7));
}

TEST(Win32Link, ProgramsAStationThroughStationConnection) {
    StationConnection connection;
    ASSERT_TRUE(connection.open(gPort));
    try {
        win32_check::programStation(connection);
    } catch (int code) {
        FAIL() << "the station connection failed with code " << code;
    }
    connection.close();
}

// The driver hangs up the station's line while the link waits for the reply
// (the adapter pulled): the read fails, the transport says the port is lost
// and the link ends with its own code after one attempt instead of taking
// the line for a silent station. (Wine notices the hang-up only when the
// read's time-out ends; Windows fails the read as the device goes.)
TEST(Win32Link, ReportsThePortLostWhenTheLineHangsUp) {
    StationConnection connection;
    ASSERT_TRUE(connection.open(gPort));
    // Time for the driver to hang up while the first read still waits.
    ASSERT_TRUE(connection.serialPort().setReadTimeout(5000));
    std::uint8_t head[16] = {};
    int code = 0;
    try {
        connection.readRom16(0xC000, 16, head, 3);
    } catch (int thrown) {
        code = thrown;
    }
    EXPECT_EQ(code, link_codes::kPortLost);
    EXPECT_TRUE(connection.portLost());
    EXPECT_FALSE(connection.settleLine());
    connection.close();
}

// A COM port name opens \\.\COMn even when discovery lists nothing (as
// under Wine) or fails.
TEST(Win32Link, AComPortNameResolvesWithoutDiscovery) {
    const ResolvedPort resolved = resolvePortName(nullptr, L"com41");
    EXPECT_EQ(resolved.devicePath, L"\\\\.\\COM41");
    EXPECT_EQ(resolved.label, L"COM41");
    PortList none;
    EXPECT_EQ(resolvePortName(&none, L"COM41").devicePath, L"\\\\.\\COM41");
    EXPECT_TRUE(resolvePortName(&none, L"ttyUSB0").devicePath.empty());
}

// Wine's device-setup API knows no COM ports, so discovery finds none there
// (the fake-platform tests cover its logic); its Win32 calls must still run
// through without a failure.
TEST(Win32Link, PortDiscoveryRunsAndFindsNoPortsUnderWine) {
    PortList list{PortEntry{}};
    try {
        discoverPorts(list, true);
    } catch (const std::wstring& message) {
        FAIL() << "discovery failed: " << std::string(message.begin(), message.end());
    }
    EXPECT_TRUE(list.empty());
}

// Prints the ports discovery lists, without and with the exclusive-open probe,
// one line each ("listed:"/"probed:" name, device path, description); the
// driver registers ports under SERIALCOMM first and checks the lines.
TEST(Win32Link, ListsThePortsOfSerialComm) {
    for (const bool probe : {false, true}) {
        PortList list;
        try {
            discoverPorts(list, probe);
        } catch (const std::wstring& message) {
            FAIL() << "discovery failed: " << std::string(message.begin(), message.end());
        }
        for (const PortEntry& entry : list) {
            const std::wstring line = entry.displayName + L" " + entry.devicePath + L" " + entry.description;
            std::printf("%s: %ls\n", probe ? "probed" : "listed", line.c_str());
        }
    }
    std::fflush(stdout);
}

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: win32_link_test [GoogleTest options] \\\\.\\COMn\n");
        return 2;
    }
    const std::string port = argv[1];
    gPort.assign(port.begin(), port.end());
    return RUN_ALL_TESTS();
}
