// Status read: where the station stands in the mesh network.
#include <cstdint>

#include "DebugLog.h"
#include "LineFacts.h"
#include "StationFiles.h"
#include "StationRam.h"
#include "StationRecord.h"
#include "WorkThread.h"

namespace {

constexpr int kAttempts = line::kAttempts;

using namespace station_ram;

template <typename T>
void take(T& field, T value, bool& changed) {
    if (field != value) {
        field = value;
        changed = true;
    }
}

}  // namespace

void WorkThread::readStatus() {
    StationRecord* record = StationRecord::instance();
    if (!record) return;
    StationStatus status = record->status();
    appendDebugLog(QStringLiteral("readStatus"));

    // Every read may throw its code; nothing is stored before all five are in.
    std::uint8_t buf[16] = {};
    connection_.readRam16(kStatusByte, 2, buf, kAttempts);
    const std::uint8_t vec = buf[0];

    connection_.readRam16(kAttachFlags, 2, buf, kAttempts);
    const bool isConnect = (buf[0] & kAttachedBit) != 0;

    connection_.readRam16(kParentAddress, 2, buf, kAttempts);
    const auto parent = static_cast<std::uint16_t>(buf[0] | (buf[1] << 8));

    connection_.readRam24(routeRowAddress(parent), kRouteRowBytes, buf, kAttempts);
    const std::int32_t quality = (buf[kRouteQualityByte] & kQualityMask) >> 4;

    connection_.readRam16(kLevelBlock, 4, buf, kAttempts);
    const std::int32_t snr = (buf[2] >> 1) - 130;

    bool changed = false;
    take(status.vec, vec, changed);
    take(status.isConnect, isConnect, changed);
    take(status.parent_addr, parent, changed);
    take(status.quality, quality, changed);
    take(status.snr, snr, changed);
    record->setStatus(status);

    if (changed) {
        writeStatusFile();
        emit onReadStatus();
    }
}
