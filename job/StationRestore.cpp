#include "StationRestore.h"

#include <QThread>

#include "ChangedRegions.h"
#include "JobMessages.h"
#include "StationConnection.h"

void restoreStation(StationConnection& connection, const std::uint8_t* block256) {
    for (const ParamRegion& region : kChangedRegions)
        connection.writeRom16(region.address, region.count, block256 + region.offset(), kWriteAttempts);
    QThread::msleep(kSettleBeforeRestartMs);
    if (!connection.sendRestart()) throw job_messages::kCodeRestartNotSent;
}

void readWholeBlock(StationConnection& connection, std::uint8_t* block256) {
    constexpr int kChunk = 32;
    constexpr int kAttempts = 2;
    for (int offset = 0; offset < 256; offset += kChunk)
        connection.readRom16(kParamBlockAddress + static_cast<std::uint32_t>(offset), kChunk, block256 + offset,
                             kAttempts);
}
