// A port that fails under the link (the far end of the pty closed, as when a
// USB adapter is pulled) is told from a silent station: the read ends at
// once, the link reports it as lost without retrying, and the settle step
// does not spin on it. The driver values the Win32 backend sets are checked
// here too, where they are computed.

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>

#include "IRLSerial.h"
#include "RawPty.h"
#include "SerialLineSettings.h"
#include "SerialPort.h"
#include "SimStation.h"
#include "StationConnection.h"

namespace {

// CPU time of this process: a busy loop shows here, a wait does not.
double cpuSeconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

}  // namespace

TEST(PortLost, AHungUpLineIsLostUntilClosedAndATimeOutIsNot) {
    RawPty pty;
    ASSERT_TRUE(pty.ok());
    SerialPort port;
    ASSERT_TRUE(port.open(pty.slavePathW(), 57600));
    port.setReadTimeout(0);
    std::uint8_t buf[2] = {};
    EXPECT_EQ(port.read(buf, 1), 0);
    EXPECT_FALSE(port.lost()) << "a silent line is not a lost port";

    pty.closeMaster();
    EXPECT_EQ(port.read(buf, 2), 0);
    EXPECT_TRUE(port.lost());
    EXPECT_FALSE(port.write(buf, 2));
    EXPECT_TRUE(port.lost());
    port.close();
    EXPECT_FALSE(port.lost());
}

class PortLostLink : public SimStation {};

// The station goes away between two requests: the next request ends with
// the lost code at once, after one attempt, whatever the attempts asked; the
// settle step after it neither waits nor spins.
TEST_F(PortLostLink, AFailedPortEndsTheExchangeAtOnceWithItsOwnCode) {
    std::uint8_t data[16] = {};
    ASSERT_EQ(codeOf([&] { conn.readRom16(0xC000, 16, data, 1); }), 0);
    const int exchangesBefore = host.exchangeCount();
    host.stop();

    const double cpuBefore = cpuSeconds();
    EXPECT_EQ(codeOf([&] { conn.readRom16(0xC000, 16, data, 4); }), link_codes::kPortLost);
    EXPECT_TRUE(conn.portLost());
    EXPECT_FALSE(conn.settleLine());
    EXPECT_EQ(codeOf([&] { conn.writeRom16(0xC004, 1, data, 4); }), link_codes::kPortLost);
    EXPECT_LT(cpuSeconds() - cpuBefore, 0.5) << "a loop spun on the failed port";
    EXPECT_EQ(host.exchangeCount(), exchangesBefore);
}

// The values the Win32 backend copies into COMMTIMEOUTS and the DCB.
TEST(SerialLineSettings, DriverTimeOutsAndLineControlHaveNoUnboundedOrRefusedValue) {
    const serial_line::CommTimeoutValues t = serial_line::commTimeouts(1500);
    EXPECT_EQ(t.readInterval, 2u);
    EXPECT_EQ(t.readTotalMultiplier, 100u);
    EXPECT_EQ(t.readTotalConstant, 1500u);
    // A write of n bytes may take 2000 + 20 n ms, as on POSIX; 0 would be forever.
    EXPECT_EQ(t.writeTotalMultiplier, 20u);
    EXPECT_EQ(t.writeTotalConstant, 2000u);

    const serial_line::LineControlValues v = serial_line::lineControl(57600);
    EXPECT_EQ(v.baudRate, 57600u);
    EXPECT_EQ(v.byteSize, 8);
    EXPECT_EQ(v.parity, 0);     // NOPARITY
    EXPECT_EQ(v.stopBits, 0);   // ONESTOPBIT
    EXPECT_FALSE(v.outxCtsFlow || v.outxDsrFlow || v.dsrSensitivity || v.outX || v.inX);
    EXPECT_FALSE(v.dtrOn);
    EXPECT_TRUE(v.rtsOn);
    EXPECT_EQ(v.xonChar, 0x11);
    EXPECT_EQ(v.xoffChar, 0x13);
}
