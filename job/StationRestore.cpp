#include "StationRestore.h"

#include "ChangedRegions.h"
#include "StationConnection.h"

void restoreStation(StationConnection& connection, const std::uint8_t* block256) {
    for (const ParamRegion& region : kChangedRegions)
        connection.writeRom16(region.address, region.count, block256 + region.offset(), kWriteAttempts);
    connection.sendRestart();
}
