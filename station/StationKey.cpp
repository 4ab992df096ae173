#include "StationKey.h"

void KnownSetups::note(const LedgerEntry& entry) {
    if (entry.address && !entry.setup.isEmpty()) setups_[*entry.address].insert(entry.setup);
}

StationKey KnownSetups::stationOf(int address, const QString& setup) const {
    if (!setup.isEmpty()) return {address, setup};
    const auto known = setups_.find(address);
    if (known != setups_.end() && known->second.size() == 1) return {address, *known->second.begin()};
    return {address, QString()};
}
