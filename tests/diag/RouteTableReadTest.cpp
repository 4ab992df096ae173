#include "DiagFixture.h"

namespace {

int requestsSeen(const std::vector<sim::WireFrame>& frames) {
    int n = 0;
    for (const auto& f : frames) n += f.direction == sim::WireFrame::Direction::ToStation;
    return n;
}

}  // namespace

class RouteTableRead : public DiagTest {
protected:
    void SetUp() override {
        DiagTest::SetUp();
        // Rows in the first and the last block besides the default station's.
        host.withModel([](sim::StationModel& m) {
            m.setRouteRow(0, 1, 50);
            m.setRouteRow(3, 3, 12);
        });
    }
};

TEST_F(RouteTableRead, SixtyFourCallsSweepTheTableOnceWithOneSignalEach) {
    QSignalSpy signalled(&thread, &WorkThread::onReadRouteTable);
    ASSERT_EQ(thread.getRouteCursor(), 0);
    for (int call = 1; call <= 64; ++call) {
        host.clearFrames();
        thread.readRouteTable();
        ASSERT_EQ(signalled.count(), call);
        ASSERT_EQ(requestsSeen(host.frames()), 32) << "call " << call;
        ASSERT_EQ(thread.getRouteCursor(), call == 64 ? 0 : call * 32);
    }
    auto& table = record().routeTable;
    EXPECT_EQ(table.keys(), (QList<std::int32_t>{0, 3, 0x12, 0x45, 0x100, 8191}));
    EXPECT_EQ(table[0].quality, 1);
    EXPECT_EQ(table[0].snr, 50);
    EXPECT_EQ(table[3].quality, 3);
    EXPECT_EQ(table[0x45].quality, 3);
    EXPECT_EQ(table[0x45].snr, 40);
    // Byte 15 is unsigned: 200 stays 200.
    EXPECT_EQ(table[8191].quality, 2);
    EXPECT_EQ(table[8191].snr, 200);
    EXPECT_EQ(debugMessages().size(), 64);
    EXPECT_EQ(debugMessages().front(), "readRouteTable");
}

TEST_F(RouteTableRead, ACallFromBlock2040ReadsEightBlocksAndWraps) {
    QSignalSpy signalled(&thread, &WorkThread::onReadRouteTable);
    thread.setRouteCursor(2040);
    host.clearFrames();
    thread.readRouteTable();
    EXPECT_EQ(requestsSeen(host.frames()), 8);
    EXPECT_EQ(signalled.count(), 1);
    EXPECT_EQ(thread.getRouteCursor(), 0);
    EXPECT_EQ(record().routeTable.keys(), (QList<std::int32_t>{8191}));

    // The next call starts the sweep again at block 0.
    thread.readRouteTable();
    EXPECT_EQ(thread.getRouteCursor(), 32);
    EXPECT_TRUE(record().routeTable.contains(0));
}

TEST_F(RouteTableRead, EmptyRowsLeaveEntriesAloneAndOtherFieldsSurvive) {
    auto& table = record().routeTable;
    table[1] = RouteEntry{2, 33, 7, -90, 31.5, QStringLiteral("t1")};    // row 1 is empty on the station
    table[3] = RouteEntry{1, 99, 4, -85, 20.25, QStringLiteral("t3")};   // row 3 has quality 3, signal 12
    thread.readRouteTable();
    EXPECT_EQ(table[1].quality, 2);
    EXPECT_EQ(table[1].snr, 33);
    EXPECT_EQ(table[1].count, 7);
    EXPECT_EQ(table[3].quality, 3);
    EXPECT_EQ(table[3].snr, 12);
    EXPECT_EQ(table[3].count, 4);
    EXPECT_EQ(table[3].noise, -85);
    EXPECT_EQ(table[3].average_snr, 20.25);
    EXPECT_EQ(table[3].time, QStringLiteral("t3"));
    EXPECT_FALSE(table.contains(2)) << "no entry is made for an empty row";
}

TEST_F(RouteTableRead, AFailedBlockIsRetriedByTheNextCall) {
    host.withModel([](sim::StationModel& m) {
        m.setRouteRow(4 * 9, 2, 21);    // block 9
        m.setRouteRow(4 * 10, 1, 60);   // block 10
    });
    QSignalSpy signalled(&thread, &WorkThread::onReadRouteTable);
    // Blocks 0 to 9 answer; both attempts at block 10 are refused.
    sim::FaultScript script;
    sim::Fault refusal;
    refusal.kind = sim::Fault::Kind::Status;
    script.at(host.exchangeCount() + 10, refusal);
    script.at(host.exchangeCount() + 11, refusal);
    host.setFaults(script);

    EXPECT_NO_THROW(thread.readRouteTable());
    EXPECT_EQ(signalled.count(), 0);
    EXPECT_EQ(thread.getRouteCursor(), 10);
    EXPECT_TRUE(record().routeTable.contains(36));
    EXPECT_FALSE(record().routeTable.contains(40));

    host.clearFrames();
    thread.readRouteTable();
    EXPECT_EQ(signalled.count(), 1);
    EXPECT_EQ(thread.getRouteCursor(), 42);
    EXPECT_EQ(requestsSeen(host.frames()), 32);
    EXPECT_EQ(record().routeTable[40].snr, 60);
}
