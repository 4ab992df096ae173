#pragma once
// What the ledger says about a fleet: how many runs ended how, and each
// station's latest outcome, those that still need a visit first.
#include <QDateTime>
#include <QString>
#include <utility>
#include <vector>

#include "Ledger.h"

struct LedgerSummary {
    struct Station {
        int address = 0;
        QString outcome;
        QDateTime time;
        QString port;
    };
    // Every outcome, in kRunOutcomes order, with its count of runs.
    std::vector<std::pair<QString, int>> counts;
    // One per address: those whose latest outcome is neither moved nor
    // already-moved first, then the done ones; by address within each.
    std::vector<Station> stations;
};

// A station needs no more visits once it is on the new channel.
bool ledgerOutcomeIsDone(const QString& outcome);

// Only runs at or after `since` count; an invalid `since` takes all.
LedgerSummary summariseLedger(const std::vector<LedgerEntry>& entries, const QDateTime& since);
