#include "StationRestore.h"

#include <QThread>

#include "ChangedRegions.h"
#include "StationConnection.h"

void restoreStation(StationConnection& connection, const std::uint8_t* block256) {
    for (const ParamRegion& region : kChangedRegions)
        connection.writeRom16(region.address, region.count, block256 + region.offset(), kWriteAttempts);
    QThread::msleep(kSettleBeforeRestartMs);
    connection.sendRestart();
}
