#include "LedgerSummary.h"

#include <algorithm>
#include <map>

#include "RunOrder.h"
#include "StationKey.h"

LedgerSummary summariseLedger(const std::vector<LedgerEntry>& entries, const QDateTime& since) {
    LedgerSummary summary;
    KnownSetups setups;
    for (const LedgerEntry& entry : entries) setups.note(entry);
    std::map<RunOutcome, int> counts;
    std::map<StationKey, LedgerSummary::Station> latest;
    std::map<QString, LedgerSummary::SilentPort> silent;
    std::map<StationKey, RunOrder> latestOrder;
    std::map<QString, RunOrder> silentOrder;
    qint64 seq = 0;
    for (const LedgerEntry& entry : entries) {
        const RunOrder order{entry.time, seq++};
        if (since.isValid() && entry.time < since) continue;
        // Every line read names an outcome of the table (the ledger refuses others).
        const RunOutcome outcome = outcomeNamed(entry.outcome).value_or(RunOutcome::Failed);
        ++counts[outcome];
        if (!entry.address) {
            LedgerSummary::SilentPort& port = silent[entry.port];
            port.port = entry.port;
            ++port.runs;
            if (order.laterThan(silentOrder[entry.port])) {
                silentOrder[entry.port] = order;
                port.outcome = outcome;
                port.time = entry.time;
            }
            continue;
        }
        const StationKey key = setups.stationOf(entry);
        if (order.laterThan(latestOrder[key])) {
            latestOrder[key] = order;
            latest[key] = LedgerSummary::Station{key.first, key.second, outcome, entry.time, entry.port};
        }
    }
    for (const RunOutcomeRow& row : kRunOutcomes) {
        const auto count = counts.find(row.outcome);
        summary.counts.emplace_back(QLatin1String(row.name), count == counts.end() ? 0 : count->second);
    }
    for (const auto& station : latest) summary.stations.push_back(station.second);
    std::stable_sort(summary.stations.begin(), summary.stations.end(),
                     [](const LedgerSummary::Station& a, const LedgerSummary::Station& b) {
                         return stateAfter(a.outcome) != StationState::Moved &&
                                stateAfter(b.outcome) == StationState::Moved;
                     });
    for (const auto& port : silent) summary.silentPorts.push_back(port.second);
    return summary;
}
