// A reply is only ever taken for the request it answers: impossible headers
// fail their attempt at once, and a late reply (of a failed attempt or of a
// run that was cut off) is drained before the next attempt.

#include <array>

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
// another: the reply that turns up just after the time-out belongs to the
// first and is drained before the second request goes out.
TEST_F(SimStation, AReplyLateForAnOperationThatGaveUpIsNotTakenByTheNext) {
    faults([](sim::FaultScript& s) { s.at(0, Fault::delay(1330)); });
    const sim::StationModel model = host.snapshot();
    std::array<std::uint8_t, 16> got{};
    EXPECT_EQ(codeOf([&] { conn.readRom16(0xC000, 16, got.data(), 1); }), -1);
    ASSERT_EQ(conn.readRom16(0xC010, 16, got.data(), 1), 16);
    EXPECT_EQ(Bytes(got.begin(), got.end()), romBytes(model, 0xC010, 16));
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
