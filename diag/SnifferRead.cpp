// Sniffer buffer read: follows the station's ring of the last four radio
// packets it heard and keeps per-neighbour link statistics from them.
#include <QDateTime>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>

#include "DebugLog.h"
#include "LineFacts.h"
#include "StationFiles.h"
#include "StationRam.h"
#include "StationRecord.h"
#include "WorkThread.h"

namespace {

constexpr int kAttempts = line::kAttempts;
constexpr std::uint32_t kSnifferBuffer = station_ram::kSnifferRing;
constexpr int kBufferBytes = station_ram::kSnifferRingBytes;
constexpr int kSlots = station_ram::kSnifferSlots;
constexpr int kSlotBytes = station_ram::kSnifferSlotBytes;

const QString kReportHeader = QStringLiteral("time,src,dst,type,len,snr,noise");

constexpr std::array<int, 16> kLengthCodes = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 12, 16, 24, 32, 48, 64};

// Trailing spaces are part of the names: the report columns line up.
const std::array<QString, 12> kMessageTypeNames = {
    QStringLiteral("RREQ "), QStringLiteral("RREP "), QStringLiteral("NAC   "), QStringLiteral("HELLO"),
    QStringLiteral("ACK  "), QStringLiteral("DATA "), QStringLiteral("VREQ "), QStringLiteral("VREP "),
    QStringLiteral("GACK "), QStringLiteral("GANS "), QStringLiteral("COMM"),  QStringLiteral("SMS"),
};

// Types without a name (12 to 15) are written as their number.
QString messageTypeText(int type) {
    if (type >= 0 && type < static_cast<int>(kMessageTypeNames.size())) return kMessageTypeNames[static_cast<size_t>(type)];
    return QString::number(type);
}

// The station numbers its packets with 8 bits, 255 followed by 0, and keeps
// the last four in a ring, slot (number & 3). A slot the station has not
// rewritten lately (a packet it did not record, memory never written since
// start) holds a stale number, so "not just behind the expected one" is no
// test for new: a stale 5 read with 12 expected looks 249 packets ahead, and
// the ring would be followed round and round. New is instead what lies from
// the expected number up to the newest number in the ring.
int forward(int from, int to) { return static_cast<std::uint8_t>(to - from); }

// The newest number: among the slots written since the last read, the one
// the others lie closest behind. A slot that has not changed between two
// reads holds nothing new, however its number compares; that keeps a slot
// stale for half the circle from passing for the newest. -1 when nothing
// was written.
int newestSequence(const std::array<int, 4>& numbers, const std::array<bool, 4>& written) {
    int newest = -1;
    int bestSpread = 256;
    for (size_t s = 0; s < numbers.size(); ++s) {
        if (!written[s]) continue;
        int spread = 0;
        for (size_t t = 0; t < numbers.size(); ++t)
            if (written[t]) spread = std::max(spread, forward(numbers[t], numbers[s]));
        if (spread < bestSpread) {
            bestSpread = spread;
            newest = numbers[s];
        }
    }
    return newest;
}

// A newest number up to four behind the expected one belongs to a ring
// already reported. Anything else ahead is new however far, since a long
// poll interval may let hundreds of packets go by.
constexpr int kNewWindow = 256 - kSlots;

bool isNew(int seq, int expected, int newest) {
    if (newest < 0) return false;
    const int span = forward(expected, newest);
    return span < kNewWindow && forward(expected, seq) <= span;
}

// Truncates toward zero like a C cast, but defined for every input: a mean
// loaded from a file can be anything.
std::int32_t truncateToInt32(double value) {
    if (std::isnan(value)) return 0;
    if (value >= 2147483647.0) return std::numeric_limits<std::int32_t>::max();
    if (value <= -2147483648.0) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(value);
}

int qualityClass(int signal) {
    if (signal >= 32) return 1;
    if (signal >= 22) return 2;
    return 3;
}

void updateMean(RouteEntry& e, int signal) {
    if (e.average_snr == 0.0) {
        e.average_snr = signal;
        return;
    }
    const double n = static_cast<double>(static_cast<std::int64_t>(e.count) + 1);
    const double total = n * e.average_snr - e.average_snr + signal;
    const std::int32_t s = truncateToInt32(total);
    e.average_snr = n != 0.0 ? s / n : static_cast<double>(signal);
}

// The slot's eight bytes as unsigned decimals, byte 0 first.
QString slotLine(const std::uint8_t* slot) {
    auto n = [slot](int i) { return QString::number(slot[i]); };
    return QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8").arg(n(0), n(1), n(2), n(3), n(4), n(5), n(6), n(7));
}

// The slots' sequence numbers, and which of them the station has rewritten
// since the numbers in `seen` were read.
struct RingNumbers {
    std::array<int, kSlots> numbers{};
    std::array<bool, kSlots> written{};
};

RingNumbers ringNumbers(const std::uint8_t* ring, const std::array<int, kSlots>& seen) {
    RingNumbers now;
    for (size_t s = 0; s < now.numbers.size(); ++s) {
        now.numbers[s] = ring[s * kSlotBytes];
        now.written[s] = seen[s] != now.numbers[s];
    }
    return now;
}

struct SnifferPacket {
    int src;
    int dst;
    int signal;
    int noise;
    int length;
    int type;
};

// Counts the packet in `slot` in its sender's route entry, heard `now` with
// the station's last noise level; returns what its report line shows.
SnifferPacket countPacket(StationRecord& record, const std::uint8_t* slot, const QDateTime& now) {
    const SnifferPacket packet{slot[2] | (slot[3] << 8), slot[4] | (slot[5] << 8), slot[6], record.status().snr,
                               kLengthCodes[slot[7] & 0x0F], slot[7] >> 4};
    RouteEntry& e = record.routeTable[packet.src];
    e.snr = packet.signal;
    e.noise = packet.noise;
    updateMean(e, packet.signal);
    e.quality = qualityClass(packet.signal);
    e.count = static_cast<std::int32_t>(static_cast<std::uint32_t>(e.count) + 1u);
    e.time = now.toString(QStringLiteral("dd.MM.yy hh:mm:ss"));
    return packet;
}

}  // namespace

void WorkThread::logSnifferRecord(const QString& time, int src, int dst, int snr, int noise, int len, int type) {
    const QString line = QStringLiteral("%1,%2,%3,%4,%5,%6,%7")
                             .arg(time, QString::number(src), QString::number(dst), messageTypeText(type),
                                  QString::number(len), QString::number(snr), QString::number(noise));
    appendReportLine(line, kReportHeader);
    if (snifferLineSink_) snifferLineSink_(line);
}

namespace {

// The first call only learns where the station stands. Slot 0's packet and
// those up to three after it are taken on the next call if they are still in
// their slots; the other slots are remembered as seen, so a stale number
// ahead of slot 0 counts only once the station rewrites it.
void learnRing(const std::uint8_t* ring, std::int32_t& pointer, std::array<int, kSlots>& seen) {
    pointer = ring[0];
    for (size_t s = 0; s < seen.size(); ++s) {
        const int seq = ring[s * kSlotBytes];
        seen[s] = forward(ring[0], seq) < kSlots ? -1 : seq;
    }
}

}  // namespace

void WorkThread::readSnifferBuffer() {
    appendDebugLog(QStringLiteral("readSnifferBuffer"));
    std::uint8_t buffer[kBufferBytes] = {};
    connection_.readRam16(kSnifferBuffer, kBufferBytes, buffer, kAttempts);
    const std::uint8_t* ring = buffer + 2;

    if (snifferPtr < 0) return learnRing(ring, snifferPtr, snifferSlots_);
    appendDebugLog(QStringLiteral("SnifferPtr"));

    StationRecord* record = StationRecord::instance();
    if (!record) return;

    // The walk starts one slot before the expected number and, after each
    // packet taken, goes on through the three other slots (never further:
    // a packet far ahead would otherwise walk the ring round and round).
    // Every packet taken moves `expected` past it, so no number is reported
    // twice while the ring holds still. `expected` counts on past 255;
    // snifferPtr stays a sequence number, 0 to 255.
    const auto [numbers, written] = ringNumbers(ring, snifferSlots_);
    snifferSlots_ = numbers;
    int expected = snifferPtr & 0xFF;
    const int newest = newestSequence(numbers, written);
    int end = expected + 2;
    for (int i = expected - 1; i <= end; ++i) {
        const std::uint8_t* slot = ring + (i & (kSlots - 1)) * kSlotBytes;
        appendDebugLog(slotLine(slot));

        if (!written[static_cast<size_t>(i & (kSlots - 1))] || !isNew(slot[0], expected & 0xFF, newest)) continue;
        expected += forward(expected & 0xFF, slot[0]) + 1;
        snifferPtr = expected & 0xFF;
        end = std::min(expected + 2, i + kSlots - 1);
        if (slot[1] != record->system()) continue;   // another network: only consumed

        const QDateTime heard = QDateTime::currentDateTime();
        const SnifferPacket p = countPacket(*record, slot, heard);
        logSnifferRecord(heard.toString(QStringLiteral("hh:mm:ss")), p.src, p.dst, p.signal, p.noise, p.length, p.type);
        writeRouteTableFile();
        emit onReadRouteTable();
    }
}
