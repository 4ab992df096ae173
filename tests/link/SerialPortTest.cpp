// The POSIX transport over a bare pseudo-terminal whose far end the test
// plays itself: open rules, line settings, read timing, stale input, closed
// port and hang-up.

#include <gtest/gtest.h>

#include <dirent.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <vector>

#include "RawPty.h"
#include "SerialPort.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

int openDescriptorCount() {
    int n = 0;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (readdir(d)) ++n;
        closedir(d);
    }
    return n;
}

}  // namespace

TEST(SerialPort, OpenFailsForMissingPathsNonTerminalsAndUnknownRates) {
    SerialPort port;
    EXPECT_FALSE(port.open(L"/dev/rechannel-no-such-port", 57600));
    EXPECT_FALSE(port.isOpen());
    EXPECT_FALSE(port.open(L"", 57600));
    EXPECT_FALSE(port.isOpen());

    // A file is not a terminal: the line settings cannot be applied.
    char name[] = "/tmp/rechannel-link-XXXXXX";
    const int fd = mkstemp(name);
    ASSERT_GE(fd, 0);
    ::close(fd);
    const std::string file(name);
    EXPECT_FALSE(port.open(std::wstring(file.begin(), file.end()), 57600));
    EXPECT_FALSE(port.isOpen());
    std::remove(name);

    RawPty pty;
    ASSERT_TRUE(pty.ok());
    EXPECT_FALSE(port.open(pty.slavePathW(), 12345));
    EXPECT_FALSE(port.isOpen());
    // A failed open leaves nothing held: the same port opens right after.
    EXPECT_TRUE(port.open(pty.slavePathW(), 57600));
}

TEST(SerialPort, ConfiguresRaw8N1WithoutFlowControlAtTheRate) {
    RawPty pty;
    ASSERT_TRUE(pty.ok());
    SerialPort port;
    ASSERT_TRUE(port.open(pty.slavePathW(), 57600));

    // The settings belong to the tty, so the test's own descriptor shows them.
    termios tio{};
    ASSERT_EQ(tcgetattr(pty.slaveFd(), &tio), 0);
    EXPECT_EQ(cfgetispeed(&tio), B57600);
    EXPECT_EQ(cfgetospeed(&tio), B57600);
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(tio.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | ICRNL | INLCR | ISTRIP), 0u);
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);
}

TEST(SerialPort, ExclusiveUse) {
    RawPty pty;
    ASSERT_TRUE(pty.ok());
    SerialPort first;
    SerialPort second;
    ASSERT_TRUE(first.open(pty.slavePathW(), 57600));
    // Held by another opener, even for root.
    EXPECT_FALSE(second.open(pty.slavePathW(), 57600));
    EXPECT_FALSE(second.isOpen());

    // Opening an open port lets go of the first handle before the new open:
    // otherwise our own lock would refuse it, and a descriptor would leak.
    const int before = openDescriptorCount();
    EXPECT_TRUE(first.open(pty.slavePathW(), 57600));
    EXPECT_EQ(openDescriptorCount(), before);

    EXPECT_TRUE(first.close());
    EXPECT_FALSE(first.close());   // nothing left to close
    EXPECT_TRUE(second.open(pty.slavePathW(), 57600));
}

TEST(SerialPort, ClosedPortNeitherReadsNorWrites) {
    SerialPort port;
    std::array<std::uint8_t, 4> buffer{0x11, 0x22, 0x33, 0x44};
    EXPECT_EQ(port.read(buffer.data(), 4), -1);
    EXPECT_EQ(buffer, (std::array<std::uint8_t, 4>{0x11, 0x22, 0x33, 0x44}));
    EXPECT_FALSE(port.write(buffer.data(), 4));
    EXPECT_FALSE(port.setReadTimeout(1000));

    RawPty pty;
    ASSERT_TRUE(pty.ok());
    ASSERT_TRUE(port.open(pty.slavePathW(), 57600));
    EXPECT_TRUE(port.close());
    EXPECT_EQ(port.read(buffer.data(), 4), -1);
    EXPECT_EQ(buffer, (std::array<std::uint8_t, 4>{0x11, 0x22, 0x33, 0x44}));
}

TEST(SerialPort, ReadEndsWhenTheCountArrivesOrTheBurstEnds) {
    RawPty pty;
    ASSERT_TRUE(pty.ok());
    SerialPort port;
    ASSERT_TRUE(port.open(pty.slavePathW(), 57600));

    // Bytes already waiting are delivered at once, exactly as many as asked.
    pty.send({1, 2, 3, 4, 5, 6, 7});
    ASSERT_TRUE(pty.waitQueuedForSlave(7));
    std::uint8_t buf[8] = {};
    EXPECT_EQ(port.read(buf, 3), 3);
    EXPECT_EQ(Bytes(buf, buf + 3), (Bytes{1, 2, 3}));
    EXPECT_EQ(port.read(buf, 4), 4);
    EXPECT_EQ(Bytes(buf, buf + 4), (Bytes{4, 5, 6, 7}));

    // A sender that pauses after two bytes and then sends three more, well
    // inside the read's total time-out (1500 ms): the 2 ms gap ends the
    // 5-byte read with the two. A read that waited for the count instead
    // would hand back all five.
    pty.send({0xAD, 0x05});
    ASSERT_TRUE(pty.waitQueuedForSlave(2));
    pty.sendLater({7, 8, 9}, std::chrono::milliseconds(300));
    EXPECT_EQ(port.read(buf, 5), 2);
    EXPECT_EQ(buf[0], 0xAD);
    EXPECT_EQ(buf[1], 0x05);
    // The rest is there for the next read.
    EXPECT_EQ(port.read(buf, 3), 3);
    EXPECT_EQ(Bytes(buf, buf + 3), (Bytes{7, 8, 9}));
    pty.finishSending();
}

TEST(SerialPort, WriteSendsEveryByteAndDiscardsStaleInputFirst) {
    RawPty pty;
    ASSERT_TRUE(pty.ok());
    SerialPort port;
    ASSERT_TRUE(port.open(pty.slavePathW(), 57600));

    Bytes seen;
    port.setWireObserver([&](WireDirection d, const std::uint8_t* bytes, int count) {
        if (d == WireDirection::Sent) seen.insert(seen.end(), bytes, bytes + count);
    });

    // Left over from an earlier exchange.
    pty.send({0xAD, 0x00, 0x00, 0xFF, 0xCD});
    ASSERT_TRUE(pty.waitQueuedForSlave(5));

    Bytes request(200);
    for (std::size_t i = 0; i < request.size(); ++i) request[i] = static_cast<std::uint8_t>(i);
    ASSERT_TRUE(port.write(request.data(), static_cast<int>(request.size())));
    EXPECT_EQ(pty.queuedForSlave(), 0);
    EXPECT_EQ(pty.receive(request.size()), request);
    EXPECT_EQ(seen, request);

    // Only what the far end sends after the request is read back.
    pty.send({0x42});
    std::uint8_t buf[5] = {};
    EXPECT_EQ(port.read(buf, 5), 1);
    EXPECT_EQ(buf[0], 0x42);
}

TEST(SerialPort, LineHangUpEndsAReadWithoutWaitingOrSpinning) {
    RawPty pty;
    ASSERT_TRUE(pty.ok());
    SerialPort port;
    ASSERT_TRUE(port.open(pty.slavePathW(), 57600));
    port.setReadTimeout(600000);   // a hang would show as a test time-out
    pty.send({0x01});
    ASSERT_TRUE(pty.waitQueuedForSlave(1));
    pty.closeMaster();
    std::uint8_t buf[4] = {};
    const int got = port.read(buf, 4);
    EXPECT_LE(got, 1);
    EXPECT_EQ(port.read(buf, 4), 0);
    EXPECT_FALSE(port.write(buf, 4));
}

// The only transport test that waits out the total time-out: constant plus
// 100 ms per byte asked, 1000 + 3 x 100 ms for the header read on a silent
// line. The link's "missing reply" cost rests on these figures, so both
// parts are held to their lower bound.
TEST(SerialPort, SilentLineReturnsZeroAfterTheTotalTimeout) {
    using Clock = std::chrono::steady_clock;
    RawPty pty;
    ASSERT_TRUE(pty.ok());
    SerialPort port;
    ASSERT_TRUE(port.open(pty.slavePathW(), 57600));
    std::vector<WireDirection> events;
    std::vector<int> missing;
    port.setWireObserver([&](WireDirection d, const std::uint8_t*, int count) {
        events.push_back(d);
        missing.push_back(count);
    });
    std::uint8_t buf[3] = {0x55, 0x55, 0x55};
    auto start = Clock::now();
    EXPECT_EQ(port.read(buf, 3), 0);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(1300));
    EXPECT_EQ(events, std::vector<WireDirection>{WireDirection::Timeout});
    EXPECT_EQ(missing, std::vector<int>{3});
    EXPECT_EQ(buf[0], 0x55);

    // setReadTimeout replaces only the constant: the per-byte part stays.
    ASSERT_TRUE(port.setReadTimeout(0));
    start = Clock::now();
    EXPECT_EQ(port.read(buf, 2), 0);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(200));
}
