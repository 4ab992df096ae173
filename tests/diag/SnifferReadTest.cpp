#include <QDate>
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
    thread.readSnifferBuffer();
    EXPECT_EQ(signalled.count(), 1);
    EXPECT_EQ(thread.getSnifferPtr(), 154);

    fill({154});
    thread.readSnifferBuffer();
    EXPECT_EQ(signalled.count(), 2);
    EXPECT_EQ(thread.getSnifferPtr(), 155);
}

TEST_F(SnifferRead, AnInconsistentRingEndsTheWalk) {
    // Numbers a quarter circle apart: each looks new after the one before.
    thread.setSnifferPtr(0);
    host.withModel([](sim::StationModel& m) {
        const std::uint8_t seqs[] = {0, 65, 130, 195};
        for (std::uint8_t s : seqs) m.pushSnifferPacket(packet(s, 0x0045, 30));
    });
    QSignalSpy signalled(&thread, &WorkThread::onReadRouteTable);
    thread.readSnifferBuffer();
    EXPECT_EQ(signalled.count(), 4) << "each slot is taken at most once per read";
    // 195 first, then 0, 65 and 130, each ahead of the one before.
    EXPECT_EQ(thread.getSnifferPtr(), 131);
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
