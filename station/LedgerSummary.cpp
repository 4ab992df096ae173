#include "LedgerSummary.h"

#include <algorithm>
#include <map>

bool ledgerOutcomeIsDone(const QString& outcome) {
    return outcome == QLatin1String("moved") || outcome == QLatin1String("already-moved");
}

LedgerSummary summariseLedger(const std::vector<LedgerEntry>& entries, const QDateTime& since) {
    LedgerSummary summary;
    std::map<QString, int> counts;
    std::map<int, LedgerSummary::Station> latest;
    for (const LedgerEntry& entry : entries) {
        if (since.isValid() && entry.time < since) continue;
        ++counts[entry.outcome];
        if (!entry.address) continue;
        // Lines are appended as runs end, so of two equal times the later line wins.
        auto found = latest.find(*entry.address);
        if (found == latest.end() || entry.time >= found->second.time)
            latest[*entry.address] = LedgerSummary::Station{*entry.address, entry.outcome, entry.time, entry.port};
    }
    for (const RunOutcomeRow& row : kRunOutcomes) {
        const auto count = counts.find(QLatin1String(row.name));
        summary.counts.emplace_back(QLatin1String(row.name), count == counts.end() ? 0 : count->second);
    }
    for (const auto& station : latest) summary.stations.push_back(station.second);
    std::stable_sort(summary.stations.begin(), summary.stations.end(),
                     [](const LedgerSummary::Station& a, const LedgerSummary::Station& b) {
                         return !ledgerOutcomeIsDone(a.outcome) && ledgerOutcomeIsDone(b.outcome);
                     });
    return summary;
}
