// A reply is only ever taken for the request it answers: impossible headers
// fail their attempt at once, and a late reply (of a failed attempt or of a
// run that was cut off) is drained before the next attempt.

#include <array>
#include <chrono>

#include "LineFacts.h"

#include "RawPty.h"
#include "Responder.h"
#include "SimStation.h"

using sim::Fault;

namespace {

// Counts the transport's read time-outs: a header refused at once leaves none.
struct TimeoutCounter {
    int timeouts = 0;
    WireObserver observer() {
        return [this](WireDirection d, const std::uint8_t*, int) {
            if (d == WireDirection::Timeout) ++timeouts;
        };
    }
};

}  // namespace

TEST_F(SimStation, HeadersNoAnswerToTheRequestCanHaveFailAtOnce) {
    const std::uint8_t systemCode = 0x3A;
    std::array<std::uint8_t, 16> dest{};
    const struct {
        const char* what;
        Fault fault;
        std::function<void()> call;
    } cases[] = {
        {"read of 16, LEN 255", Fault::oversizedLength(255), [&] { conn.readRom16(0xC000, 16, dest.data(), 1); }},
        {"read of 16, LEN 32", Fault::wrongDataLength(32), [&] { conn.readRom16(0xC000, 16, dest.data(), 1); }},
        {"read of 2, LEN 16", Fault::wrongDataLength(16), [&] { conn.readRam16(0x0B00, 2, dest.data(), 1); }},
        {"write of 1, LEN 255", Fault::oversizedLength(255), [&] { conn.writeRom16(0xC004, 1, &systemCode, 1); }},
        {"write of 1, LEN 32", Fault::wrongDataLength(32), [&] { conn.writeRom16(0xC004, 1, &systemCode, 1); }},
    };
    for (const auto& c : cases) {
        faults([&](sim::FaultScript& s) { s.always(c.fault); });
        TimeoutCounter counter;
        conn.serialPort().setWireObserver(counter.observer());
        dest.fill(0xEE);
        EXPECT_EQ(codeOf(c.call), -1) << c.what;
        EXPECT_EQ(counter.timeouts, 0) << c.what << ": waited for a body that cannot belong to the request";
        for (std::uint8_t b : dest) EXPECT_EQ(b, 0xEE) << c.what;
        conn.serialPort().setWireObserver(nullptr);
        conn.close();   // the rest of the bad frame goes with the port
        ASSERT_TRUE(conn.open(host.slavePathW()));
    }
}

// A write's acknowledgement carries nothing we use; a station may send back
// up to what the request carried (address, count byte, data) and the write
// stands.
TEST_F(SimStation, AWriteAcknowledgedWithUpToItsRequestsBytesIsTaken) {
    const std::uint8_t systemCode = 0x3A;
    for (int length : {0, 1, 4}) {
        faults([&](sim::FaultScript& s) { s.always(Fault::wrongDataLength(length)); });
        EXPECT_TRUE(conn.writeRom16(0xC004, 1, &systemCode, 1)) << length;
    }
}

// A slow station whose previous client was cut off while it was working on a
// request: that reply reaches the next client. Every read must still return
// its own bytes, also for a run of same-length reads at different addresses,
// where a client one reply behind would not notice by the length alone.
TEST_F(SimStation, ALateReplyOfAnInterruptedRunIsNeverTakenForTheNextRequest) {
    conn.close();
    faults([](sim::FaultScript& s) { s.always(Fault::delay(600)); });
    {
        SerialPort cutOff;
        ASSERT_TRUE(cutOff.open(host.slavePathW(), StationConnection::kBaudRate));
        const Bytes frame = sim::makeRequest(0x05, {0xC0, 0x20, 0x20});   // 32 bytes at 0xC020
        ASSERT_TRUE(cutOff.write(frame.data(), static_cast<int>(frame.size())));
        ASSERT_TRUE(host.waitForFrames(1, std::chrono::seconds(5)));
    }   // the client is gone before the station answers

    ASSERT_TRUE(conn.open(host.slavePathW()));
    const sim::StationModel model = host.snapshot();
    for (std::uint32_t address : {0xC000u, 0xC010u, 0xC020u, 0xC030u}) {
        std::array<std::uint8_t, 16> got{};
        ASSERT_EQ(conn.readRom16(address, 16, got.data(), 2), 16) << std::hex << address;
        EXPECT_EQ(Bytes(got.begin(), got.end()), romBytes(model, address, 16)) << std::hex << address;
    }
}

// An operation that gave up (its only attempt timed out) is followed by
// another: a reply of the first may still be on its way until the first
// request's reply window ends (the header's time-out and the longest frame's
// time on the line), so the second request waits for that end, and a reply
// that turned up meanwhile is drained, never taken for the second's. Timed
// on the sender's own clock, so a slow machine cannot make it pass or fail.
TEST(LateReply, OfAnOperationThatGaveUpIsNotTakenByTheNext) {
    using Clock = std::chrono::steady_clock;
    RawPty pty;
    ASSERT_TRUE(pty.ok());
    StationConnection connection;
    ASSERT_TRUE(connection.open(pty.slavePathW()));
    std::vector<Clock::time_point> sent;
    connection.serialPort().setWireObserver([&sent](WireDirection d, const std::uint8_t*, int) {
        if (d == WireDirection::Sent) sent.push_back(Clock::now());
    });
    std::array<std::uint8_t, 16> got{};
    int gaveUp = 0;
    try {
        connection.readRom16(0xC000, 16, got.data(), 1);
    } catch (int code) {
        gaveUp = code;
    }
    EXPECT_EQ(gaveUp, -1);
    pty.send(replyFrame(0, Bytes(16, 0x11)));   // the first's reply, late
    const Bytes second(16, 0x22);
    pty.sendLater(replyFrame(0, second), std::chrono::milliseconds(0), 16);
    ASSERT_EQ(connection.readRom16(0xC010, 16, got.data(), 1), 16);
    EXPECT_EQ(Bytes(got.begin(), got.end()), second);
    const Bytes requests = pty.finishSending();
    ASSERT_EQ(requests.size(), 16u);
    EXPECT_EQ(Bytes(requests.begin() + 11, requests.begin() + 14), (Bytes{0xC0, 0x10, 0x10}));
    ASSERT_EQ(sent.size(), 2u);
    const auto window = std::chrono::milliseconds(line::kReadTimeoutMs + 3 * line::kReadMsPerByte + 45);
    EXPECT_GE(sent[1] - sent[0], window) << "the second request went out inside the first's reply window";
}

// A station that answers one request later than its reply window: the retry
// takes that late reply (the same request's), and the retry's own reply,
// which follows it, is drained before the next request of the same length,
// also when it is still on its way as the next request goes out.
TEST_F(SimStation, AReplyLaterThanItsWindowDoesNotShiftTheRepliesThatFollow) {
    const struct {
        int firstMs;   // the first attempt's reply comes after its time-out
        int retryMs;
    } cases[] = {{1500, 0}, {2000, 300}};
    const sim::StationModel model = host.snapshot();
    for (const auto& c : cases) {
        faults([&](sim::FaultScript& s) {
            s.at(host.exchangeCount(), Fault::delay(c.firstMs));
            s.at(host.exchangeCount() + 1, Fault::delay(c.retryMs));
        });
        for (std::uint32_t address : {0xC000u, 0xC010u, 0xC020u}) {
            std::array<std::uint8_t, 16> got{};
            ASSERT_EQ(conn.readRom16(address, 16, got.data(), 2), 16) << std::hex << address;
            EXPECT_EQ(Bytes(got.begin(), got.end()), romBytes(model, address, 16))
                << c.firstMs << "/" << c.retryMs << std::hex << " at " << address;
        }
    }
}
