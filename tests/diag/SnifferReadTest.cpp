#include <QDate>
#include <algorithm>
#include <array>
#include <memory>
#include <vector>
#include <QRegularExpression>

#include "DiagFixture.h"

namespace {

constexpr std::uint8_t kOwn = 0x9E;
constexpr std::uint8_t kForeign = 0x3A;
constexpr std::uint16_t kSelf = 291;

sim::StationModel::SnifferPacket packet(std::uint8_t seq, std::uint16_t src, std::uint8_t signal,
                                        std::uint8_t network = kOwn, std::uint8_t byte7 = 0x55) {
    return {seq, network, src, kSelf, signal, static_cast<std::uint8_t>(byte7 & 0x0F), static_cast<std::uint8_t>(byte7 >> 4)};
}

}  // namespace

class SnifferRead : public DiagTest {
protected:
    void SetUp() override {
        DiagTest::SetUp();
        stationFile = useStation(kSelf, kOwn);
        record().status().snr = -80;
        // Four old packets of another network: nothing new in the ring.
        fill({252, 253, 254, 255}, kForeign);
    }

    void fill(std::initializer_list<int> seqs, std::uint8_t network = kOwn, std::uint16_t src = 0x0045) {
        host.withModel([&](sim::StationModel& m) {
            for (int seq : seqs) m.pushSnifferPacket(packet(static_cast<std::uint8_t>(seq), src, 30, network));
        });
    }
    void push(const sim::StationModel::SnifferPacket& p) {
        host.withModel([&](sim::StationModel& m) { m.pushSnifferPacket(p); });
    }

    QList<QByteArray> reportLines() const {
        QList<QByteArray> lines = readAll(reportFilePath(QDate::currentDate())).split('\n');
        if (!lines.isEmpty() && lines.back().isEmpty()) lines.pop_back();
        return lines;
    }
    // The CSV lines without their time column.
    QList<QByteArray> reportRecords() const {
        QList<QByteArray> out;
        const QList<QByteArray> lines = reportLines();
        for (int i = 1; i < lines.size(); ++i) {
            const QByteArray& l = lines[i];
            EXPECT_TRUE(l.endsWith('\r')) << "CR LF line end";
            EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d,")).match(QString::fromLatin1(l)).hasMatch());
            out.append(l.mid(9, l.size() - 10));
        }
        return out;
    }
    static int slotLines(const QList<QByteArray>& messages) {
        int n = 0;
        for (const QByteArray& m : messages) n += m.count(' ') == 7;
        return n;
    }

    // Sequence numbers straight into slots 0..3; packet q comes from node 1000 + q.
    void setRing(const std::array<int, 4>& ring) {
        host.withModel([&](sim::StationModel& m) {
            for (size_t s = 0; s < ring.size(); ++s) {
                const std::uint32_t slot = 0x0CA6 + 2 + 8 * static_cast<std::uint32_t>(s);
                const auto seq = static_cast<std::uint8_t>(ring[s]);
                const std::uint8_t bytes[8] = {seq, kOwn, static_cast<std::uint8_t>(1000 + seq), static_cast<std::uint8_t>((1000 + seq) >> 8),
                                               0x23, 0x01, 30, 0x55};
                std::copy(std::begin(bytes), std::end(bytes), m.ram.begin() + slot);
            }
        });
    }
    // From now on, the sequence number of every packet reported (its source - 1000).
    std::shared_ptr<QList<int>> followSources() {
        auto reported = std::make_shared<QList<int>>();
        thread.setSnifferLineSink(
            [reported](const QString& line) { reported->append(line.section(QLatin1Char(','), 1, 1).toInt() - 1000); });
        return reported;
    }

    QString stationFile;
};

TEST_F(SnifferRead, TheFirstCallOnlySynchronises) {
    fill({5, 6, 7, 8});   // slot 0 holds 8, the newest
    QSignalSpy signalled(&thread, &WorkThread::onReadRouteTable);
    ASSERT_EQ(thread.getSnifferPtr(), -1);
    thread.readSnifferBuffer();
    EXPECT_EQ(thread.getSnifferPtr(), 8);
    EXPECT_EQ(signalled.count(), 0);
    EXPECT_TRUE(record().routeTable.isEmpty());
    EXPECT_EQ(debugMessages(), QList<QByteArray>{"readSnifferBuffer"});
    EXPECT_FALSE(QFile::exists(reportFilePath(QDate::currentDate())));

    // Still in its slot, packet 8 is new on the next call; 5, 6, 7 are not.
    thread.readSnifferBuffer();
    EXPECT_EQ(thread.getSnifferPtr(), 9);
    EXPECT_EQ(signalled.count(), 1);
    EXPECT_EQ(record().routeTable[0x45].count, 1);
}

TEST_F(SnifferRead, PacketsAtAndAfterThePointerAreProcessed) {
    fill({8, 9, 10, 11});
    thread.setSnifferPtr(10);
    QSignalSpy signalled(&thread, &WorkThread::onReadRouteTable);
    thread.readSnifferBuffer();
    EXPECT_EQ(thread.getSnifferPtr(), 12);
    EXPECT_EQ(signalled.count(), 2);
    EXPECT_EQ(record().routeTable[0x45].count, 2);
    EXPECT_EQ(reportLines().size(), 3);
    EXPECT_EQ(reportLines().front(), "time,src,dst,type,len,snr,noise\r");

    const QList<QByteArray> messages = debugMessages();
    ASSERT_GE(messages.size(), 3);
    EXPECT_EQ(messages[0], "readSnifferBuffer");
    EXPECT_EQ(messages[1], "SnifferPtr");
    // The walk starts one before the pointer (slot 1, packet 9) and ends at
    // the final pointer + 2.
    EXPECT_EQ(messages[2], "9 158 69 0 35 1 30 85");
    EXPECT_EQ(slotLines(messages), 6);
}

TEST_F(SnifferRead, ANewerPacketFirstPassesTheOlderOnesOver) {
    fill({12, 13, 10, 11});
    thread.setSnifferPtr(10);
    QSignalSpy signalled(&thread, &WorkThread::onReadRouteTable);
    thread.readSnifferBuffer();
    EXPECT_EQ(thread.getSnifferPtr(), 14);
    EXPECT_EQ(signalled.count(), 1);
    EXPECT_EQ(record().routeTable[0x45].count, 1);
    EXPECT_EQ(reportRecords().size(), 1);
}

TEST_F(SnifferRead, RunningMeanQualityCountNoiseAndTheStationFile) {
    thread.setSnifferPtr(0);
    QSignalSpy signalled(&thread, &WorkThread::onReadRouteTable);
    const int signals_[] = {20, 25, 30};
    const double means[] = {20.0, 22.5, 25.0};
    const int qualities[] = {3, 2, 2};
    for (int k = 0; k < 3; ++k) {
        push(packet(static_cast<std::uint8_t>(k), 0x0777, static_cast<std::uint8_t>(signals_[k])));
        thread.readSnifferBuffer();
        const RouteEntry& e = record().routeTable[0x0777];
        EXPECT_EQ(e.snr, signals_[k]);
        EXPECT_DOUBLE_EQ(e.average_snr, means[k]);
        EXPECT_EQ(e.quality, qualities[k]);
        EXPECT_EQ(e.count, k + 1);
        EXPECT_EQ(e.noise, -80);
        EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d\\d\\.\\d\\d\\.\\d\\d \\d\\d:\\d\\d:\\d\\d$")).match(e.time).hasMatch())
            << e.time.toStdString();
    }
    EXPECT_EQ(signalled.count(), 3);
    EXPECT_EQ(thread.getSnifferPtr(), 3);
    EXPECT_EQ(reportRecords(), (QList<QByteArray>{"1911,291,DATA ,6,20,-80", "1911,291,DATA ,6,25,-80",
                                                  "1911,291,DATA ,6,30,-80"}));
    EXPECT_TRUE(readAll(stationFile).contains("quality=\"2\" count=\"3\" snr=\"30\" average_snr=\"25\" />"))
        << readAll(stationFile).constData();

    // Quality boundaries: 32 and up is 1, 22 to 31 is 2, 21 and below 3.
    const std::pair<int, int> bounds[] = {{32, 1}, {31, 2}, {22, 2}, {21, 3}, {255, 1}, {0, 3}};
    std::uint8_t seq = 3;
    for (const auto& [signal, quality] : bounds) {
        push(packet(seq++, 0x0888, static_cast<std::uint8_t>(signal)));
        thread.readSnifferBuffer();
        EXPECT_EQ(record().routeTable[0x0888].quality, quality) << signal;
    }
}

TEST_F(SnifferRead, AZeroMeanRestartsFromTheNextValue) {
    record().routeTable[0x0555] = RouteEntry{1, 40, 5, -70, 0.0, QString()};
    thread.setSnifferPtr(0);
    push(packet(0, 0x0555, 30));
    thread.readSnifferBuffer();
    EXPECT_DOUBLE_EQ(record().routeTable[0x0555].average_snr, 30.0);
    EXPECT_EQ(record().routeTable[0x0555].count, 6);

    // A mean that truncates to 0 is 0 again: the next one restarts too.
    record().routeTable[0x0556] = RouteEntry{1, 40, 1, -70, 0.25, QString()};
    push(packet(1, 0x0556, 0));
    thread.readSnifferBuffer();
    EXPECT_EQ(record().routeTable[0x0556].average_snr, 0.0);   // (2 * 0.25 - 0.25 + 0) -> 0
    push(packet(2, 0x0556, 24));
    thread.readSnifferBuffer();
    EXPECT_DOUBLE_EQ(record().routeTable[0x0556].average_snr, 24.0);
}

TEST_F(SnifferRead, TypeTextsLengthsAndUnnamedTypes) {
    thread.setSnifferPtr(0);
    push(packet(0, 0x0045, 40, kOwn, 0x3B));   // HELLO, length code 11
    thread.readSnifferBuffer();
    EXPECT_EQ(reportRecords(), QList<QByteArray>{"69,291,HELLO,16,40,-80"});

    // Types 12 to 15 have no name: their number is written.
    std::uint8_t seq = 1;
    for (std::uint8_t byte7 : {0xC0, 0xDF, 0xE1, 0xF5}) {
        push(packet(seq++, 0x0045, 40, kOwn, byte7));
        thread.readSnifferBuffer();
    }
    const QList<QByteArray> records = reportRecords();
    ASSERT_EQ(records.size(), 5);
    EXPECT_EQ(records[1], "69,291,12,1,40,-80");
    EXPECT_EQ(records[2], "69,291,13,64,40,-80");
    EXPECT_EQ(records[3], "69,291,14,2,40,-80");
    EXPECT_EQ(records[4], "69,291,15,6,40,-80");

    // The names with their trailing spaces, through the record writer itself.
    const char* names[] = {"RREQ ", "RREP ", "NAC   ", "HELLO", "ACK  ", "DATA ", "VREQ ", "VREP ",
                           "GACK ", "GANS ", "COMM", "SMS", "12", "13", "14", "15"};
    for (int type = 0; type < 16; ++type) thread.logSnifferRecord(QStringLiteral("01:02:03"), 1, -2, 3, -4, 5, type);
    const QList<QByteArray> lines = reportLines();
    ASSERT_EQ(lines.size(), 1 + 5 + 16);
    for (int type = 0; type < 16; ++type)
        EXPECT_EQ(lines[6 + type], "01:02:03,1,-2," + QByteArray(names[type]) + ",5,3,-4\r");
}

TEST_F(SnifferRead, AForeignPacketIsConsumedWithoutATrace) {
    const QByteArray fileBefore = readAll(stationFile);
    thread.setSnifferPtr(0);
    push(packet(0, 0x0200, 33, kForeign));
    QSignalSpy signalled(&thread, &WorkThread::onReadRouteTable);
    thread.readSnifferBuffer();
    EXPECT_EQ(thread.getSnifferPtr(), 1);
    EXPECT_EQ(signalled.count(), 0);
    EXPECT_TRUE(record().routeTable.isEmpty());
    EXPECT_FALSE(QFile::exists(reportFilePath(QDate::currentDate())));
    EXPECT_EQ(readAll(stationFile), fileBefore);

    // A foreign packet between two own ones.
    push(packet(1, 0x0045, 30));
    push(packet(2, 0x0200, 33, kForeign));
    push(packet(3, 0x0046, 30));
    thread.readSnifferBuffer();
    EXPECT_EQ(thread.getSnifferPtr(), 4);
    EXPECT_EQ(signalled.count(), 2);
    EXPECT_EQ(record().routeTable.keys(), (QList<std::int32_t>{0x45, 0x46}));
}

TEST_F(SnifferRead, SequenceNumbersAreFollowedAcrossTheWrap) {
    thread.setSnifferPtr(254);
    QSignalSpy signalled(&thread, &WorkThread::onReadRouteTable);
    fill({254, 255});
    thread.readSnifferBuffer();
    EXPECT_EQ(signalled.count(), 2);
    EXPECT_EQ(thread.getSnifferPtr(), 0);

    fill({0, 1});
    thread.readSnifferBuffer();
    EXPECT_EQ(signalled.count(), 4);
    EXPECT_EQ(thread.getSnifferPtr(), 2);

    // Three more times round, one or two packets a call; nothing is missed.
    int pushed = 4;
    for (int seq = 2; seq < 2 + 3 * 256; seq += 1 + (seq % 2)) {
        const int count = 1 + (seq % 2);
        for (int k = 0; k < count; ++k) push(packet(static_cast<std::uint8_t>(seq + k), 0x0045, 30));
        pushed += count;
        thread.readSnifferBuffer();
        ASSERT_EQ(signalled.count(), pushed) << "seq " << seq;
        ASSERT_EQ(thread.getSnifferPtr(), (seq + count) & 0xFF);
    }
    EXPECT_EQ(record().routeTable[0x45].count, pushed);

    // Old packets stay old across the wrap: with the pointer at 2, slots
    // holding 254, 255, 0 and 1 are behind it.
    thread.setSnifferPtr(2);
    fill({254, 255, 0, 1});
    thread.readSnifferBuffer();
    EXPECT_EQ(signalled.count(), pushed);
    EXPECT_EQ(thread.getSnifferPtr(), 2);
}

TEST_F(SnifferRead, ManyPacketsBetweenTwoReadsAreCaughtUpWith) {
    // 140 packets went by since the last read: the newest is taken at once
    // (it passes the other three over, as with any newer packet first) and
    // the diagnostics go on from it.
    thread.setSnifferPtr(10);
    fill({150, 151, 152, 153});
    QSignalSpy signalled(&thread, &WorkThread::onReadRouteTable);
    clearDebugLog();
    thread.readSnifferBuffer();
    EXPECT_EQ(signalled.count(), 1);
    EXPECT_EQ(thread.getSnifferPtr(), 154);
    // Slot 1 (153) first, then the three other slots once each: the walk
    // does not go round the ring to catch up with the new pointer.
    EXPECT_EQ(slotLines(debugMessages()), 4);

    fill({154});
    thread.readSnifferBuffer();
    EXPECT_EQ(signalled.count(), 2);
    EXPECT_EQ(thread.getSnifferPtr(), 155);
}

// Rings as the station may leave them, each read many times without
// change: every packet is reported at most once, in the walk's order.
TEST_F(SnifferRead, AStaticRingIsReportedOnceWhateverItsSlotsHold) {
    const struct {
        const char* what;
        std::array<int, 4> ring;   // sequence numbers in slots 0..3
        int pointer;
        QList<int> reported;
        int pointerAfter;
    } cases[] = {
        {"listed: 8 9 10 11 from 10", {8, 9, 10, 11}, 10, {10, 11}, 12},
        {"listed: a newer packet first", {12, 13, 10, 11}, 10, {13}, 14},
        {"stale slot 1", {8, 5, 10, 11}, 5, {8, 10, 11}, 12},
        {"stale slot, all seen", {8, 5, 10, 11}, 12, {}, 12},
        {"slot 1 never written", {100, 0, 98, 99}, 98, {98, 99, 100}, 101},
        {"stale slot across the wrap", {0, 253, 254, 255}, 254, {254, 255, 0}, 1},
        {"hundreds later, across the wrap", {100, 101, 102, 103}, 200, {103}, 104},
        {"already reported, across the wrap", {0, 1, 254, 255}, 2, {}, 2},
        {"numbers a quarter circle apart", {0, 65, 130, 195}, 0, {0}, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        setRing(c.ring);
        const auto reported = followSources();
        thread.setSnifferPtr(c.pointer);
        for (int poll = 0; poll < 20; ++poll) thread.readSnifferBuffer();
        EXPECT_EQ(*reported, c.reported);
        EXPECT_EQ(thread.getSnifferPtr(), c.pointerAfter);
    }
}

// The synchronising call takes slot 0's number; slot 0's packet and those
// just after it are reported on the next calls, once each; a stale slot
// ahead of slot 0 is not, and the packets arriving after it are all caught.
TEST_F(SnifferRead, AfterSynchronisingOnlyTheRingAtSlotZeroAndNewPacketsAreReported) {
    const struct {
        const char* what;
        std::array<int, 4> ring;   // at the synchronising call
        std::vector<int> arriving;
        QList<int> reported;
        int pointerAfter;
    } cases[] = {
        {"stale 71 ahead of slot 0", {12, 71, 10, 11}, {}, {12}, 13},
        {"stale 71, then 13 to 15 arrive", {12, 71, 10, 11}, {13, 14, 15}, {12, 13, 14, 15}, 16},
        {"12 and 13 in their slots", {12, 13, 10, 11}, {}, {12, 13}, 14},
        {"0 and 1 across the wrap", {0, 1, 254, 255}, {2}, {0, 1, 2}, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        setRing(c.ring);
        const auto reported = followSources();
        thread.setSnifferPtr(-1);
        thread.readSnifferBuffer();
        EXPECT_EQ(thread.getSnifferPtr(), c.ring[0]);
        for (int poll = 0; poll < 5; ++poll) thread.readSnifferBuffer();
        for (int seq : c.arriving) {
            push(packet(static_cast<std::uint8_t>(seq), static_cast<std::uint16_t>(1000 + seq), 30));
            for (int poll = 0; poll < 5; ++poll) thread.readSnifferBuffer();
        }
        EXPECT_EQ(*reported, c.reported);
        EXPECT_EQ(thread.getSnifferPtr(), c.pointerAfter);
    }
}

TEST_F(SnifferRead, AStationThatSkipsOneSlotIsFollowedAcrossTheWrapWithoutRepeats) {
    // Slot 1 keeps an old foreign packet: the station never records the
    // numbers that would land there. Several times round the circle, one or
    // two packets a poll and a few polls with nothing new.
    thread.setSnifferPtr(0);
    QList<int> reported;
    thread.setSnifferLineSink([&](const QString& line) { reported.append(line.section(QLatin1Char(','), 1, 1).toInt()); });
    QList<int> pushed;
    for (int seq = 0; seq < 3 * 256;) {
        for (int k = 0; k < 1 + (seq % 3 == 0); ++k, ++seq) {
            if ((seq & 3) == 1) continue;
            push(packet(static_cast<std::uint8_t>(seq), static_cast<std::uint16_t>(seq), 30));
            pushed.append(seq);
        }
        for (int poll = 0; poll < 1 + (seq % 5 == 0); ++poll) thread.readSnifferBuffer();
        ASSERT_EQ(reported, pushed) << "seq " << seq;
    }
}

TEST_F(SnifferRead, ALinkErrorPassesThrough) {
    thread.setSnifferPtr(7);
    refuseNext(2);
    int code = 0;
    try {
        thread.readSnifferBuffer();
    } catch (int c) {
        code = c;
    }
    EXPECT_EQ(code, -2);
    EXPECT_EQ(thread.getSnifferPtr(), 7);
}
