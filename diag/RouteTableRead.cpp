// Route table read: copies the station's route table into the record, one
// slice of 32 blocks per call, so a poller never holds the line for long.
#include <cstdint>

#include "DebugLog.h"
#include "LineFacts.h"
#include "StationRam.h"
#include "StationRecord.h"
#include "WorkThread.h"

namespace {

constexpr int kAttempts = line::kAttempts;
constexpr int kBlocks = station_ram::kRouteBlocks;
constexpr int kBlocksPerCall = 32;
constexpr int kRowsPerBlock = station_ram::kRouteRowsPerBlock;
constexpr int kRowBytes = station_ram::kRouteRowBytes;
constexpr int kBlockBytes = station_ram::kRouteBlockBytes;
using station_ram::kQualityMask;
using station_ram::kRouteQualityByte;

}  // namespace

void WorkThread::readRouteTable() {
    appendDebugLog(QStringLiteral("readRouteTable"));
    StationRecord* record = StationRecord::instance();
    if (!record) return;
    // A cursor set from outside the table starts the sweep over.
    if (routeCursor < 0 || routeCursor >= kBlocks) routeCursor = 0;

    try {
        for (int done = 0; done < kBlocksPerCall; ++done) {
            std::uint8_t block[kBlockBytes];
            connection_.readRam24(station_ram::routeBlockAddress(routeCursor), kBlockBytes, block, kAttempts);
            for (int k = 0; k < kRowsPerBlock; ++k) {
                const std::uint8_t* row = block + k * kRowBytes;
                const int quality = (row[kRouteQualityByte] & kQualityMask) >> 4;
                if (quality == 0) continue;   // no neighbour in this row
                RouteEntry& entry = record->routeTable[routeCursor * kRowsPerBlock + k];
                entry.quality = quality;
                entry.snr = row[15];
            }
            if (++routeCursor == kBlocks) {
                routeCursor = 0;
                emit onReadRouteTable();
                return;
            }
        }
        emit onReadRouteTable();
    } catch (int) {
        // The failed block stays under the cursor and is read again next call.
    }
}
