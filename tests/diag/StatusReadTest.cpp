#include "DiagFixture.h"

class StatusRead : public DiagTest {};

TEST_F(StatusRead, FirstReadStoresWritesAndSignalsTheSecondOnlyStores) {
    const QString file = useStation(291, 0x9E);
    QSignalSpy signalled(&thread, &WorkThread::onReadStatus);

    thread.readStatus();
    const StationStatus& s = record().status();
    EXPECT_EQ(s.vec, 3);
    EXPECT_TRUE(s.isConnect);
    EXPECT_EQ(s.parent_addr, 0x45);
    EXPECT_EQ(s.quality, 3);     // from the parent's route-table row
    EXPECT_EQ(s.snr, -80);       // raw level 100
    EXPECT_EQ(signalled.count(), 1);
    EXPECT_TRUE(readAll(file).contains(
        "\t<status vec=\"3\" isConnect=\"true\" parent_addr=\"69\" quality=\"3\" snr=\"-80\" />\r\n"))
        << readAll(file).constData();

    // Unchanged station: nothing written, no signal.
    const QByteArray marker = "<Station><status vec=\"77\" /></Station>";
    writeAll(file, marker);
    thread.readStatus();
    EXPECT_EQ(signalled.count(), 1);
    EXPECT_EQ(readAll(file), marker);
    EXPECT_EQ(record().status().vec, 3);
    EXPECT_EQ(debugMessages(), (QList<QByteArray>{"readStatus", "readStatus"}));
}

TEST_F(StatusRead, AParentChangeAloneIsAChange) {
    thread.readStatus();
    QSignalSpy signalled(&thread, &WorkThread::onReadStatus);

    // New parent whose row has the same quality class: only the address differs.
    host.withModel([](sim::StationModel& m) {
        m.setRam16(0x0274, 0x0100);
        m.setRouteRow(0x0100, 3, 10);
    });
    thread.readStatus();
    EXPECT_EQ(signalled.count(), 1);
    EXPECT_EQ(record().status().parent_addr, 0x0100);
    EXPECT_EQ(record().status().quality, 3);

    // And the quality follows the new parent's row.
    host.withModel([](sim::StationModel& m) { m.setRam16(0x0274, 0x0012); });
    thread.readStatus();
    EXPECT_EQ(signalled.count(), 2);
    EXPECT_EQ(record().status().parent_addr, 0x0012);
    EXPECT_EQ(record().status().quality, 2);
}

TEST_F(StatusRead, LevelBytesAndTheAttachedBit) {
    host.withModel([](sim::StationModel& m) {
        m.ram[0x0B04] = 0;
        m.ram[0x00B7] = 0xEF;   // every bit but the attached one
    });
    thread.readStatus();
    EXPECT_EQ(record().status().snr, -130);
    EXPECT_FALSE(record().status().isConnect);

    host.withModel([](sim::StationModel& m) {
        m.ram[0x0B04] = 255;
        m.ram[0x00B7] = 0x10;
    });
    thread.readStatus();
    EXPECT_EQ(record().status().snr, -3);
    EXPECT_TRUE(record().status().isConnect);
}

TEST_F(StatusRead, ALinkErrorPassesThroughAndStoresNothing) {
    const QString file = useStation(291, 0x9E);
    const QByteArray before = readAll(file);
    QSignalSpy signalled(&thread, &WorkThread::onReadStatus);

    // The parent's row (the fourth read) is refused on both attempts.
    sim::FaultScript script;
    sim::Fault refusal;
    refusal.kind = sim::Fault::Kind::Status;
    script.at(host.exchangeCount() + 3, refusal);
    script.at(host.exchangeCount() + 4, refusal);
    host.setFaults(script);
    int code = 0;
    try {
        thread.readStatus();
    } catch (int c) {
        code = c;
    }
    EXPECT_EQ(code, -2);
    EXPECT_EQ(record().status(), StationStatus{});
    EXPECT_EQ(signalled.count(), 0);
    EXPECT_EQ(readAll(file), before);

    // One refused attempt is retried.
    refuseNext(1);
    thread.readStatus();
    EXPECT_EQ(signalled.count(), 1);
    EXPECT_EQ(record().status().parent_addr, 0x45);
}
