#pragma once
// Which station a ledger line belongs to. A station is its address and its
// setup: addresses repeat across fleets, setups tell the namesakes apart. A
// line that names an address but no setup (written before the ledger had
// setups, or by a run that read only the block head) belongs to the one
// station of that address when the lines know only one setup for it, and
// stands as a station of unknown setup otherwise. The ledger summary and the
// report merge both follow this rule.
#include <QString>
#include <map>
#include <set>
#include <utility>

#include "Ledger.h"

using StationKey = std::pair<int, QString>;   // address, setup (empty: unknown)

class KnownSetups {
public:
    // Learns the setup a line names (every line counts, whatever time window
    // is asked for: a station's setup does not change with it).
    void note(const LedgerEntry& entry);
    // The station of `address` and `setup`, by the rule above.
    StationKey stationOf(int address, const QString& setup) const;
    // The station of a line that names an address.
    StationKey stationOf(const LedgerEntry& entry) const { return stationOf(entry.address.value_or(-1), entry.setup); }

private:
    std::map<int, std::set<QString>> setups_;
};
