// Sniffer buffer read: follows the station's ring of the last four radio
// packets it heard and keeps per-neighbour link statistics from them.
#include <QDateTime>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>

#include "DebugLog.h"
#include "StationFiles.h"
#include "StationRecord.h"
#include "WorkThread.h"

namespace {

constexpr int kAttempts = 2;
constexpr std::uint32_t kSnifferBuffer = 0x0CA6;
constexpr int kBufferBytes = 34;   // two unused bytes, then four 8-byte slots
constexpr int kSlots = 4;
constexpr int kSlotBytes = 8;

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

// The station numbers its packets with 8 bits, 255 followed by 0. The ring
// holds the last four packets, so the only old ones a slot can show are the
// four numbers just behind the expected one; every other number is new,
// however far ahead: a long poll interval may let many packets go by.
int sequenceDistance(std::uint8_t seq, int expected) { return static_cast<std::uint8_t>(seq - expected); }
constexpr int kNewWindow = 256 - kSlots;

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

}  // namespace

void WorkThread::logSnifferRecord(const QString& time, int src, int dst, int snr, int noise, int len, int type) {
    const QString line = QStringLiteral("%1,%2,%3,%4,%5,%6,%7")
                             .arg(time, QString::number(src), QString::number(dst), messageTypeText(type),
                                  QString::number(len), QString::number(snr), QString::number(noise));
    appendReportLine(line, kReportHeader);
    if (snifferLineSink_) snifferLineSink_(line);
}

void WorkThread::readSnifferBuffer() {
    appendDebugLog(QStringLiteral("readSnifferBuffer"));
    std::uint8_t buffer[kBufferBytes] = {};
    connection_.readRam16(kSnifferBuffer, kBufferBytes, buffer, kAttempts);
    const std::uint8_t* ring = buffer + 2;

    // The first call only learns where the station stands.
    if (snifferPtr < 0) {
        snifferPtr = ring[0];
        return;
    }
    appendDebugLog(QStringLiteral("SnifferPtr"));

    StationRecord* record = StationRecord::instance();
    if (!record) return;

    // `expected` counts on past 255 during the walk so the walk's end keeps
    // moving with it; snifferPtr itself stays a sequence number, 0 to 255.
    int expected = snifferPtr & 0xFF;
    std::array<bool, kSlots> taken{};   // each slot holds at most one new packet per read
    for (int i = expected - 1; i <= expected + 2; ++i) {
        const int slotIndex = i & (kSlots - 1);
        const std::uint8_t* slot = ring + slotIndex * kSlotBytes;
        appendDebugLog(slotLine(slot));

        const int ahead = sequenceDistance(slot[0], expected);
        if (taken[static_cast<size_t>(slotIndex)] || ahead >= kNewWindow) continue;
        taken[static_cast<size_t>(slotIndex)] = true;
        expected += ahead + 1;
        snifferPtr = expected & 0xFF;
        if (slot[1] != record->system()) continue;   // another network: only consumed

        const int src = slot[2] | (slot[3] << 8);
        const int dst = slot[4] | (slot[5] << 8);
        const int signal = slot[6];
        const int length = kLengthCodes[slot[7] & 0x0F];
        const int type = slot[7] >> 4;
        const int noise = record->status().snr;

        RouteEntry& e = record->routeTable[src];
        e.snr = signal;
        e.noise = noise;
        updateMean(e, signal);
        e.quality = qualityClass(signal);
        e.count = static_cast<std::int32_t>(static_cast<std::uint32_t>(e.count) + 1u);
        const QDateTime now = QDateTime::currentDateTime();
        e.time = now.toString(QStringLiteral("dd.MM.yy hh:mm:ss"));

        logSnifferRecord(now.toString(QStringLiteral("hh:mm:ss")), src, dst, signal, noise, length, type);
        writeRouteTableFile();
        emit onReadRouteTable();
    }
}
