#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "PtyStationHost.h"
#include "Responder.h"

using namespace sim;
using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

namespace {

// The far end of the pty as a bare descriptor, without the project's
// SerialPort, so that the station is tested on its own. Its exchanges read
// a reply only once the station has recorded sending it: a loaded machine
// delays the reply, never hands this client a shorter one to compare, and
// never leaves it on the line for the next client.
class RawClient {
public:
    explicit RawClient(const PtyStationHost& host)
        : host_(host), fd_(::open(host.slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {}
    ~RawClient() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool ok() const { return fd_ >= 0; }

    bool send(const Bytes& bytes) { return ::write(fd_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()); }

    // Reads until `count` bytes are in or `limit` passes.
    Bytes receive(std::size_t count, std::chrono::milliseconds limit = 3000ms) {
        Bytes got;
        const auto end = Clock::now() + limit;
        while (got.size() < count) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
            if (left <= 0) break;
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
            std::uint8_t buf[512];
            const ssize_t n = ::read(fd_, buf, std::min(sizeof buf, count - got.size()));
            if (n > 0) got.insert(got.end(), buf, buf + n);
        }
        return got;
    }

    // Bytes that are already waiting, without blocking.
    std::size_t waiting() {
        pollfd p{fd_, POLLIN, 0};
        return ::poll(&p, 1, 0) > 0 ? 1 : 0;
    }

    // The request and its reply: nothing when the station never answered.
    Bytes exchange(const Bytes& request, std::size_t replyBytes) {
        const std::size_t before = host_.frames().size();
        if (!send(request) || !host_.waitForFrames(before + 2, kReplyLimit)) return Bytes{};
        return receive(replyBytes);
    }

private:
    static constexpr std::chrono::milliseconds kReplyLimit = 60000ms;
    const PtyStationHost& host_;
    int fd_;
};

Bytes romSlice(const StationModel& m, std::uint32_t at, std::size_t n) {
    return Bytes(m.rom.begin() + at, m.rom.begin() + static_cast<std::ptrdiff_t>(at + n));
}

}  // namespace

TEST(PtyStationHost, AnswersOverThePseudoTerminalAndRecordsFrames) {
    PtyStationHost host;
    ASSERT_TRUE(host.start());
    ASSERT_FALSE(host.slavePath().empty());
    const std::string path = host.slavePath();
    EXPECT_EQ(host.slavePathW(), std::wstring(path.begin(), path.end()));
    RawClient client(host);
    ASSERT_TRUE(client.ok());

    const Bytes request{0xDA, 0x03, 0x05, 0xC0, 0x00, 0x10, 0x44, 0xE7};
    const Bytes expected = makeReply(0, romSlice(host.snapshot(), 0xC000, 16));
    const auto before = Clock::now();
    EXPECT_EQ(client.exchange(request, expected.size()), expected);
    // A reply in the client's hands is already in the record: no waiting.
    EXPECT_EQ(host.exchangeCount(), 1);
    const auto frames = host.frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].direction, WireFrame::Direction::ToStation);
    EXPECT_EQ(frames[0].bytes, request);
    EXPECT_EQ(frames[1].direction, WireFrame::Direction::FromStation);
    EXPECT_EQ(frames[1].bytes, expected);
    EXPECT_LE(before, frames[0].time);
    EXPECT_LE(frames[0].time, frames[1].time);

    // A write lands in the model; a damaged request is recorded, not answered
    // and not counted, so the next reply on the line is the next request's.
    EXPECT_EQ(client.exchange(Bytes{0xDA, 0x04, 0x06, 0xC0, 0x04, 0x00, 0x3A, 0x81, 0x79}, 5),
              (Bytes{0xAD, 0x00, 0x00, 0xFF, 0xCD}));
    EXPECT_EQ(host.snapshot().rom[0xC004], 0x3A);
    Bytes damaged = request;
    damaged[3] ^= 0x40;
    ASSERT_TRUE(client.send(damaged));
    EXPECT_EQ(client.exchange(makeRequest(0x05, {0xC0, 0x04, 0x01}), 6), makeReply(0, {0x3A}));
    EXPECT_EQ(host.exchangeCount(), 3);
    ASSERT_TRUE(host.waitForFrames(7, 3000ms));
    EXPECT_EQ(host.frames()[4].bytes, damaged);

    host.clearFrames();
    EXPECT_TRUE(host.frames().empty());
    const Bytes now = makeReply(0, romSlice(host.snapshot(), 0xC000, 16));
    for (std::size_t k = 1; k <= 50; ++k) {
        ASSERT_EQ(client.exchange(request, now.size()), now);
        ASSERT_EQ(host.frames().size(), 2 * k);
        ASSERT_EQ(host.frames().back().bytes, now);
    }
    host.clearFrames();
    host.withModel([](StationModel& m) { m.rom[0xC005] = 0x42; });
    EXPECT_EQ(client.exchange(makeRequest(0x05, {0xC0, 0x05, 0x01}), 6), makeReply(0, {0x42}));
}

// Bytes outside any frame are dropped by the station but kept in the
// record: an extra byte after a request shows there, and nothing else does.
TEST(PtyStationHost, RecordsStrayBytesOutsideFrames) {
    PtyStationHost host;
    ASSERT_TRUE(host.start());
    RawClient client(host);
    const Bytes request = makeRequest(0x05, {0xC0, 0x04, 0x01});
    const Bytes reply = makeReply(0, {0x9E});

    EXPECT_EQ(client.exchange(request, reply.size()), reply);
    EXPECT_TRUE(host.strayBytes().empty());

    Bytes extra = request;
    extra.push_back(0x00);
    EXPECT_EQ(client.exchange(extra, reply.size()), reply);
    Bytes noisy{0x55, 0xAD};
    noisy.insert(noisy.end(), request.begin(), request.end());
    EXPECT_EQ(client.exchange(noisy, reply.size()), reply);
    EXPECT_EQ(host.strayBytes(), (Bytes{0x00, 0x55, 0xAD}));
    EXPECT_EQ(host.exchangeCount(), 3);

    host.clearFrames();
    EXPECT_TRUE(host.strayBytes().empty());
}

TEST(PtyStationHost, SurvivesClientsReopeningAndRestarts) {
    PtyStationHost host;
    ASSERT_TRUE(host.start());
    {
        RawClient first(host);
        ASSERT_TRUE(first.ok());
        // Taken whole before the client goes: a reply left unread would be
        // the next client's first bytes.
        ASSERT_EQ(first.exchange(makeRequest(0x06, {0xC0, 0x04, 0x00, 0x3A}), 5), makeReply(0, {}));
        ASSERT_TRUE(first.send(makeRequest(0xDD, {})));
        ASSERT_TRUE(host.waitForFrames(3, 3000ms));
    }
    RawClient second(host);
    ASSERT_TRUE(second.ok());
    // The restart was never answered: the first bytes now are the new reply.
    EXPECT_EQ(second.exchange(makeRequest(0x05, {0xC0, 0x04, 0x01}), 6), makeReply(0, {0x3A}));
    EXPECT_EQ(host.snapshot().restarts, 1);
    EXPECT_EQ(host.exchangeCount(), 3);
    // Noise and a stray start byte ahead of a request do not lose it.
    Bytes noisy{0x00, 0x55, 0xDA, 0xF0};
    const Bytes read = makeRequest(0x05, {0x0B, 0x00, 0x82});
    noisy.insert(noisy.end(), read.begin(), read.end());
    EXPECT_EQ(second.exchange(noisy, 7), makeReply(0, {0x81, 0x04}));

    host.stop();
    host.stop();   // twice is harmless
    ASSERT_TRUE(host.start());   // and it can run again, on a new pty
    RawClient third(host);
    EXPECT_EQ(third.exchange(makeRequest(0x05, {0xC0, 0x04, 0x01}), 6), makeReply(0, {0x3A}));
}

TEST(PtyStationHost, ScriptedFaultsReachTheLine) {
    PtyStationHost host;
    FaultScript script;
    script.at(0, Fault::echo());
    script.at(1, Fault::pieces(3, 15));
    script.at(2, Fault::noReply());
    script.at(4, Fault::garbage(4));
    script.powerLostFrom(5);
    host.setFaults(script);
    ASSERT_TRUE(host.start());
    RawClient client(host);
    const Bytes read = makeRequest(0x05, {0x0B, 0x00, 0x82});
    const Bytes reply = makeReply(0, {0x81, 0x04});

    Bytes echoed = read;
    echoed.insert(echoed.end(), reply.begin(), reply.end());
    EXPECT_EQ(client.exchange(read, echoed.size()), echoed);
    EXPECT_EQ(client.exchange(read, reply.size()), reply);   // reassembled from pieces
    ASSERT_TRUE(client.send(read));                          // exchange 2: swallowed
    ASSERT_TRUE(client.send(read));                          // exchange 3: answered
    EXPECT_EQ(client.receive(reply.size()), reply);
    EXPECT_EQ(client.waiting(), 0u);

    Bytes noisy = client.exchange(read, reply.size() + 4);
    ASSERT_EQ(noisy.size(), reply.size() + 4);
    EXPECT_EQ(Bytes(noisy.begin() + 4, noisy.end()), reply);

    // Power lost: requests still arrive and count, nothing comes back.
    ASSERT_TRUE(client.send(read));
    ASSERT_TRUE(client.send(makeRequest(0x06, {0xC0, 0x04, 0x00, 0x3A})));
    ASSERT_TRUE(host.waitForFrames(11, 3000ms));
    EXPECT_EQ(host.exchangeCount(), 7);
    EXPECT_EQ(host.snapshot().rom[0xC004], 0x9E);
    const auto frames = host.frames();
    ASSERT_GE(frames.size(), 4u);
    EXPECT_EQ(frames[3].bytes, reply);   // pieces are recorded as one reply
    EXPECT_TRUE(client.receive(1, 200ms).empty());
}

TEST(PtyStationHost, PacesRepliesAtTheLineRate) {
    PtyStationHost host;
    host.setPacing(57600);
    ASSERT_TRUE(host.start());
    RawClient client(host);
    const Bytes request = makeRequest(0x05, {0xC0, 0x00, 0x20});
    const Bytes expected = makeReply(0, romSlice(host.snapshot(), 0xC000, 32));
    const auto start = Clock::now();
    EXPECT_EQ(client.exchange(request, expected.size()), expected);
    const auto elapsed = Clock::now() - start;
    // Never faster than the wire: both frames at 10 bits a byte.
    const auto floor = std::chrono::nanoseconds(10'000'000'000LL / 57600) *
                       static_cast<long>(request.size() + expected.size());
    EXPECT_GE(elapsed, floor);
}

TEST(PtyStationHost, ReportsWritesAndStopsPromptlyMidReply) {
    PtyStationHost host;
    std::mutex mutex;
    std::condition_variable cv;
    std::vector<std::uint8_t> seen;
    host.setOnWrite([&](const StationModel& m) {
        std::lock_guard<std::mutex> lock(mutex);
        seen.push_back(m.rom[0xC004]);
        cv.notify_all();
    });
    FaultScript script;
    script.at(1, Fault::delay(60000));
    host.setFaults(script);
    ASSERT_TRUE(host.start());
    RawClient client(host);
    EXPECT_EQ(client.exchange(makeRequest(0x06, {0xC0, 0x04, 0x00, 0x3A}), 5), makeReply(0, {}));
    {
        std::unique_lock<std::mutex> lock(mutex);
        ASSERT_TRUE(cv.wait_for(lock, 3000ms, [&] { return !seen.empty(); }));
        EXPECT_EQ(seen, (Bytes{0x3A}));
    }
    // The station is sitting on a one-minute delay; stopping must not wait for it.
    ASSERT_TRUE(client.send(makeRequest(0x05, {0xC0, 0x04, 0x01})));
    ASSERT_TRUE(host.waitForFrames(3, 3000ms));
    host.stop();
    EXPECT_EQ(host.exchangeCount(), 2);
}
