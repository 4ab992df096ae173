// Runs the cross-built Win32 test program under Wine against simulated
// stations: each case here hosts a station on a pty, maps it as COM41 in a
// private Wine prefix, runs the matching case of the Windows program and then
// checks what the station saw on the line. The programming sequence is run
// natively over the POSIX transport too, and the two wire records must match.
//
//   win32_link_driver --exe <win32_link_test.exe> --prefix <wine prefix dir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <thread>
#include <string>
#include <vector>

#include "PtyStationHost.h"
#include "StationConnection.h"
#include "StationSequence.h"
#include "WineRunner.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Frames = std::vector<std::pair<sim::WireFrame::Direction, Bytes>>;
using std::chrono::milliseconds;

constexpr int kComNumber = 41;   // clear of the ports Wine maps by itself
std::string gExe;
win32_check::WineRunner* gWine = nullptr;

std::string hex(const std::uint8_t* bytes, std::size_t count) {
    std::string text;
    char two[4];
    for (std::size_t i = 0; i < count; ++i) {
        std::snprintf(two, sizeof two, " %02X", bytes[i]);
        text += two;
    }
    return text;
}

// Leaves the tty set to everything the station link is not, so that what a
// Win32 open leaves behind shows the settings it applied.
bool scrambleLine(const std::string& tty) {
    const int fd = ::open(tty.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return false;
    termios t{};
    bool ok = tcgetattr(fd, &t) == 0;
    cfsetispeed(&t, B9600);
    cfsetospeed(&t, B9600);
    t.c_cflag = (t.c_cflag & ~static_cast<tcflag_t>(CSIZE)) | CS7 | PARENB | CSTOPB | CRTSCTS;
    t.c_iflag |= IXON | IXOFF;
    t.c_lflag |= ICANON | ECHO;
    ok = ok && tcsetattr(fd, TCSANOW, &t) == 0;
    ::close(fd);
    return ok;
}

termios lineOf(const std::string& tty) {
    termios t{};
    const int fd = ::open(tty.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd >= 0) {
        tcgetattr(fd, &t);
        ::close(fd);
    }
    return t;
}

Frames wireRecord(const sim::PtyStationHost& host) {
    Frames out;
    for (const sim::WireFrame& f : host.frames()) out.emplace_back(f.direction, f.bytes);
    return out;
}

class UnderWine : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(host.start()); }
    void TearDown() override { host.stop(); }

    // Runs one case of the Windows program against this test's station and
    // expects it to have run and passed.
    std::string runCase(const std::string& name) {
        std::string error;
        EXPECT_TRUE(gWine->mapPort(kComNumber, host.slavePath(), &error)) << error;
        const win32_check::RunResult r =
            gWine->run({gExe, "--gtest_filter=Win32Link." + name, "\\\\.\\COM" + std::to_string(kComNumber)},
                       std::chrono::seconds(120));
        // The Windows program's text-mode output ends its lines with CR LF.
        std::string output;
        for (char c : r.output)
            if (c != '\r') output += c;
        EXPECT_EQ(r.exitCode, 0) << output;
        // A filter that matches nothing passes too: the case must have run.
        EXPECT_NE(output.find("[  PASSED  ] 1 test."), std::string::npos) << output;
        return output;
    }

    // Makes HKLM\HARDWARE\DEVICEMAP\SERIALCOMM hold exactly `values`
    // (device name, port name), as serial drivers register their ports.
    void registerSerialComm(const std::vector<std::pair<std::string, std::string>>& values) {
        const std::string key = "HKLM\\HARDWARE\\DEVICEMAP\\SERIALCOMM";
        // Wine's mount manager makes the key as its services start, which
        // may still be under way at a fresh server's first program.
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        bool present = false;
        while (!present && std::chrono::steady_clock::now() < giveUp) {
            present = gWine->run({"reg", "query", key}, std::chrono::seconds(60)).exitCode == 0;
            if (!present) std::this_thread::sleep_for(milliseconds(200));
        }
        ASSERT_TRUE(present) << key << " did not appear within 60 s";
        // The values only: HKLM\HARDWARE is volatile, and Wine refuses to
        // create the key again below it. Wine's own ports go too.
        const win32_check::RunResult cleared = gWine->run({"reg", "delete", key, "/va", "/f"}, std::chrono::seconds(60));
        EXPECT_EQ(cleared.exitCode, 0) << "reg delete: " << cleared.output;
        for (const auto& [device, port] : values) {
            const win32_check::RunResult r =
                gWine->run({"reg", "add", key, "/v", device, "/t", "REG_SZ", "/d", port, "/f"}, std::chrono::seconds(60));
            EXPECT_EQ(r.exitCode, 0) << "reg add " << device << " " << port << ": " << r.output;
        }
    }

    std::vector<Bytes> requests() const {
        std::vector<Bytes> out;
        for (const auto& [direction, bytes] : wireRecord(host))
            if (direction == sim::WireFrame::Direction::ToStation) out.push_back(bytes);
        return out;
    }

    std::string headLine() const {
        const sim::StationModel m = host.snapshot();
        return "head:" + hex(m.rom.data() + 0xC000, 16) + "\n";
    }

    sim::PtyStationHost host;
};

}  // namespace

TEST_F(UnderWine, OpenSets57600Baud8N1WithoutFlowControlHoldsThePortAloneAndSendsNothing) {
    ASSERT_TRUE(scrambleLine(host.slavePath()));
    runCase("OpensTheComPortForItselfAlone");
    EXPECT_TRUE(host.frames().empty());

    // Wine puts the line settings on the tty; a pty has no modem lines, so
    // DTR and RTS cannot be seen here.
    const termios t = lineOf(host.slavePath());
    EXPECT_EQ(cfgetispeed(&t), static_cast<speed_t>(B57600));
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B57600));
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO), 0u);
}

TEST_F(UnderWine, WorkedFramesCrossTheWireAndTheRepliesComeBack) {
    const std::string output = runCase("ExchangesTheWorkedFrames");
    ASSERT_TRUE(host.waitForRestarts(1, milliseconds(5000)));
    EXPECT_EQ(requests(), (std::vector<Bytes>{win32_check::headRequest(), win32_check::versionRequest(),
                                              win32_check::restartRequest()}));
    EXPECT_NE(output.find(headLine()), std::string::npos) << output;
    const sim::StationModel m = host.snapshot();
    EXPECT_NE(output.find("version:" + hex(m.ram.data() + 0x0B00, 2) + "\n"), std::string::npos) << output;
}

TEST_F(UnderWine, SilentLineTimesOut) {
    runCase("SilentLineGivesNothingAfterTheTotalTimeout");
    EXPECT_TRUE(host.frames().empty());
}

TEST_F(UnderWine, ReplyInPiecesIsReassembled) {
    host.setFaults([] {
        sim::FaultScript s;
        s.always(sim::Fault::pieces(2, 50));
        return s;
    }());
    const std::string output = runCase("ReassemblesAReplyThatComesInPieces");
    EXPECT_EQ(requests(), (std::vector<Bytes>{win32_check::headRequest(), win32_check::headRequest()}));
    EXPECT_NE(output.find(headLine()), std::string::npos) << output;
}

TEST_F(UnderWine, StaleInputIsDiscardedBeforeAWrite) {
    runCase("DiscardsStaleInputBeforeAWrite");
    EXPECT_EQ(requests(), (std::vector<Bytes>{win32_check::headRequest(), win32_check::versionRequest()}));
}

TEST_F(UnderWine, StationConnectionPutsTheSameFramesOnTheWireAsThePosixTransport) {
    // The same troubles on both lines: a retry after a silent first
    // attempt, an echoed request and a reply in pieces.
    const sim::FaultScript faults = *sim::FaultScript::parse("0:noreply,2:echo,9:pieces=3/30");
    host.setFaults(faults);
    runCase("ProgramsAStationThroughStationConnection");

    sim::PtyStationHost native;
    native.setFaults(faults);
    ASSERT_TRUE(native.start());
    StationConnection connection;
    ASSERT_TRUE(connection.open(native.slavePathW()));
    win32_check::programStation(connection);
    connection.close();

    const Frames expected = wireRecord(native);
    ASSERT_TRUE(host.waitForFrames(expected.size(), milliseconds(5000)));
    EXPECT_EQ(wireRecord(host), expected);
    const sim::StationModel m = host.snapshot();
    EXPECT_EQ(m.rom[0xC004], 0x3A);
    EXPECT_EQ(m.rom16(0xC00C), 1902);
}

// The line hangs up (the station's pty closed, as when the adapter is pulled)
// while the Windows program waits for the reply to its request.
TEST_F(UnderWine, AHungUpLineIsReportedAsThePortLost) {
    host.setFaults(*sim::FaultScript::parse("0:noreply,1:noreply,2:noreply"));
    std::thread pull([this] {
        if (host.waitForFrames(1, milliseconds(60000))) host.stop();
    });
    runCase("ReportsThePortLostWhenTheLineHangsUp");
    pull.join();
    EXPECT_EQ(requests().size(), 1u) << "a lost port is not tried again";
}

TEST_F(UnderWine, AComPortNameResolvesWithoutDiscovery) { runCase("AComPortNameResolvesWithoutDiscovery"); }

// rechannel-cli's session-end window: no station, the Windows cases alone.
TEST(UnderWineAlone, TheSessionEndWindowHoldsTheEndWhileAStationIsWritten) {
    const win32_check::RunResult r = gWine->run(
        {gExe, "--gtest_filter=Win32SessionEnd.*", "\\\\.\\COM" + std::to_string(kComNumber)}, std::chrono::seconds(120));
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NE(r.output.find("[  PASSED  ] 3 tests"), std::string::npos) << r.output;
}

// Even with COM41 mapped, Wine's device-setup API lists no ports.
TEST_F(UnderWine, PortDiscoveryRunsButListsNoComPorts) {
    registerSerialComm({});
    runCase("PortDiscoveryRunsAndFindsNoPortsUnderWine");
    EXPECT_TRUE(host.frames().empty());
}

// Ports a driver registered under SERIALCOMM follow the device-setup list in
// port-number order, each once; the probe keeps the one that opens (COM41,
// the station's pty) and drops those with no device behind them.
TEST_F(UnderWine, SerialCommPortsAreListedOnceInPortNumberOrder) {
    // Registered in name order, so that the first registration of a port is
    // the same in insertion and in name order.
    registerSerialComm({{"\\Device\\Serial0", "COM41"},
                        {"\\Device\\Serial1", "COM7"},
                        {"\\Device\\Serial2", "COM40"},
                        {"\\Device\\VCP0", "com41"},
                        {"\\Device\\VCP1", "COM7"}});
    const std::string output = runCase("ListsThePortsOfSerialComm");
    registerSerialComm({});

    std::string lines;
    std::istringstream in(output);
    for (std::string line; std::getline(in, line);)
        if (line.rfind("listed: ", 0) == 0 || line.rfind("probed: ", 0) == 0) lines += line + "\n";
    EXPECT_EQ(lines,
              "listed: COM7 \\\\.\\COM7 \\Device\\Serial1\n"
              "listed: COM40 \\\\.\\COM40 \\Device\\Serial2\n"
              "listed: COM41 \\\\.\\COM41 \\Device\\Serial0\n"
              "probed: COM41 \\\\.\\COM41 \\Device\\Serial0\n")
        << output;
    EXPECT_TRUE(host.frames().empty());
}

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    std::string prefix;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--exe") == 0) gExe = argv[i + 1];
        else if (std::strcmp(argv[i], "--prefix") == 0) prefix = argv[i + 1];
    }
    if (gExe.empty() || prefix.empty()) {
        std::fprintf(stderr, "usage: win32_link_driver [GoogleTest options] --exe <win32_link_test.exe> --prefix <dir>\n");
        return 2;
    }
    if (access(gExe.c_str(), R_OK) != 0) {
        std::fprintf(stderr, "win32_link_driver: %s is missing: build the mingw preset first (make cross)\n",
                     gExe.c_str());
        return 1;
    }

    gExe = std::filesystem::absolute(gExe).string();
    win32_check::WineRunner wine(prefix);
    std::string error;
    const auto begin = std::chrono::steady_clock::now();
    if (!wine.start(&error)) {
        std::fprintf(stderr, "win32_link_driver: the Windows check cannot run: %s\n", error.c_str());
        return 1;
    }
    if (wine.prefixCreationSeconds() > 0)
        std::printf("Wine prefix created in %.1f s\n", wine.prefixCreationSeconds());
    std::printf("Wine ready in %.1f s\n",
                std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count());
    gWine = &wine;
    return RUN_ALL_TESTS();
}
