// The waiting ports' probe against a simulated station: one read of the
// head, the address when the station answers it, nothing else sent.
#include <gtest/gtest.h>

#include <QSignalSpy>
#include <algorithm>
#include <chrono>

#include "SimStation.h"
#include "StationProbe.h"

namespace {

class StationProbeTest : public SimStationTest {
protected:
    QString path() const { return QString::fromStdString(host.slavePath()); }
};

TEST_F(StationProbeTest, ReadsTheHeadOnceAndTellsTheAddressOnlyOfAProperAnswer) {
    const sim::StationModel before = host.snapshot();
    const struct {
        const char* what;
        sim::Fault fault;
        std::optional<int> address;
    } cases[] = {
        {"answered", sim::Fault::none(), 0x0123},   // the simulated station's address
        {"silent", sim::Fault::noReply(), std::nullopt},
        {"refused", sim::Fault::withStatus(0x01), std::nullopt},
        {"damaged", sim::Fault::badCrc(), std::nullopt},
    };
    for (const auto& c : cases) {
        host.clearFrames();
        faults([&c](sim::FaultScript& script) { script.always(c.fault); });
        const ProbeAnswer answer = probeStation(path());
        EXPECT_TRUE(answer.opened) << c.what;
        EXPECT_EQ(answer.address, c.address) << c.what;
        EXPECT_EQ(requests().size(), 1u) << c.what << ": one attempt";
        EXPECT_EQ(writesSeen(host), 0) << c.what;
    }
    EXPECT_EQ(host.snapshot().rom, before.rom);
    EXPECT_EQ(host.snapshot().restarts, 0);
}

TEST_F(StationProbeTest, AReplyLaterThanTheWindowIsNotTakenByTheNextProbe) {
    // The first request is answered after the probe's window, the second not at all.
    faults([](sim::FaultScript& script) {
        script.at(0, sim::Fault::delay(125));
        script.always(sim::Fault::noReply());
    });
    const ProbeAnswer late = probeStation(path());
    const ProbeAnswer next = probeStation(path());
    ASSERT_EQ(requests().size(), 2u);
    EXPECT_FALSE(late.address) << "the reply came after the window";
    const std::vector<sim::WireFrame> frames = host.frames();
    const auto reply = std::find_if(frames.begin(), frames.end(), [](const sim::WireFrame& f) {
        return f.direction == sim::WireFrame::Direction::FromStation;
    });
    ASSERT_NE(reply, frames.end());
    ASSERT_EQ(frames.front().direction, sim::WireFrame::Direction::ToStation);
    // A reply over within a frame's time of the window's end (100 + 45 ms) is
    // the first probe's to dispose of; on a badly loaded machine the simulated
    // station may be later than that, and then nothing can be said.
    if (reply->time - frames.front().time < std::chrono::milliseconds(140)) {
        EXPECT_FALSE(next.address) << "the first request's reply was taken";
    }
}

TEST_F(StationProbeTest, APortThatIsNotThereDoesNotOpen) {
    const ProbeAnswer answer = probeStation(QStringLiteral("/dev/rechannel-no-such-port"));
    EXPECT_FALSE(answer.opened);
    EXPECT_FALSE(answer.address);
    EXPECT_TRUE(requests().empty());
}

TEST_F(StationProbeTest, OnItsThreadOneProbeAtATimeAnswersOnTheCallersThread) {
    PortProbe probe;
    ProbeAnswer answer;
    QObject::connect(&probe, &PortProbe::answered, [&answer](const ProbeAnswer& a) { answer = a; });
    QSignalSpy answered(&probe, &PortProbe::answered);
    ASSERT_TRUE(probe.start(path()));
    EXPECT_FALSE(probe.start(path())) << "a second probe while the first is under way";
    ASSERT_TRUE(answered.wait(10000));
    EXPECT_TRUE(answer.opened);
    EXPECT_EQ(answer.address, 0x0123);
    EXPECT_FALSE(probe.busy());
    EXPECT_EQ(requests().size(), 1u);
}

}  // namespace
