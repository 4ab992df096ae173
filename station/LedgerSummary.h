#pragma once
// What the ledger says about a fleet: how many runs ended how, each
// station's latest outcome (those that still need a visit first) and the
// ports where runs read no station at all.
#include <QDateTime>
#include <QString>
#include <utility>
#include <vector>

#include "Ledger.h"

struct LedgerSummary {
    // A station is its address and its setup (StationKey.h).
    struct Station {
        int address = 0;
        QString setup;   // empty when no run of it read its whole block
        RunOutcome outcome = RunOutcome::Failed;
        QDateTime time;
        QString port;
    };
    struct SilentPort {
        QString port;
        int runs = 0;   // runs on it that read no station
        RunOutcome outcome = RunOutcome::Failed;   // the latest of them
        QDateTime time;
    };
    // Every outcome, in kRunOutcomes order, with its count of runs.
    std::vector<std::pair<QString, int>> counts;
    // One per station: those whose latest outcome is neither moved nor
    // already-moved first, then the done ones; by address and setup within
    // each.
    std::vector<Station> stations;
    // One per port with runs that read no station, by port.
    std::vector<SilentPort> silentPorts;
};

// Only runs at or after `since` count; an invalid `since` takes all. Each
// line counts for its station as StationKey.h tells.
LedgerSummary summariseLedger(const std::vector<LedgerEntry>& entries, const QDateTime& since);
