#include "LedgerSummary.h"

#include <algorithm>
#include <map>
#include <set>

namespace {

using StationKey = std::pair<int, QString>;   // address, setup

// Setups seen for each address, in every line (a station's setup does not
// change with --since).
std::map<int, std::set<QString>> knownSetups(const std::vector<LedgerEntry>& entries) {
    std::map<int, std::set<QString>> setups;
    for (const LedgerEntry& entry : entries)
        if (entry.address && !entry.setup.isEmpty()) setups[*entry.address].insert(entry.setup);
    return setups;
}

StationKey stationKey(const LedgerEntry& entry, const std::map<int, std::set<QString>>& setups) {
    if (!entry.setup.isEmpty()) return {*entry.address, entry.setup};
    const auto known = setups.find(*entry.address);
    if (known != setups.end() && known->second.size() == 1) return {*entry.address, *known->second.begin()};
    return {*entry.address, QString()};
}

}  // namespace

LedgerSummary summariseLedger(const std::vector<LedgerEntry>& entries, const QDateTime& since) {
    LedgerSummary summary;
    const std::map<int, std::set<QString>> setups = knownSetups(entries);
    std::map<RunOutcome, int> counts;
    std::map<StationKey, LedgerSummary::Station> latest;
    std::map<QString, LedgerSummary::SilentPort> silent;
    for (const LedgerEntry& entry : entries) {
        if (since.isValid() && entry.time < since) continue;
        // Every line read names an outcome of the table (the ledger refuses others).
        const RunOutcome outcome = outcomeNamed(entry.outcome).value_or(RunOutcome::Failed);
        ++counts[outcome];
        // Lines are appended as runs end, so of two equal times the later line wins.
        if (!entry.address) {
            LedgerSummary::SilentPort& port = silent[entry.port];
            port.port = entry.port;
            ++port.runs;
            if (port.runs == 1 || entry.time >= port.time) {
                port.outcome = outcome;
                port.time = entry.time;
            }
            continue;
        }
        const StationKey key = stationKey(entry, setups);
        auto found = latest.find(key);
        if (found == latest.end() || entry.time >= found->second.time)
            latest[key] = LedgerSummary::Station{key.first, key.second, outcome, entry.time, entry.port};
    }
    for (const RunOutcomeRow& row : kRunOutcomes) {
        const auto count = counts.find(row.outcome);
        summary.counts.emplace_back(QLatin1String(row.name), count == counts.end() ? 0 : count->second);
    }
    for (const auto& station : latest) summary.stations.push_back(station.second);
    std::stable_sort(summary.stations.begin(), summary.stations.end(),
                     [](const LedgerSummary::Station& a, const LedgerSummary::Station& b) {
                         return !outcomeIsDone(a.outcome) && outcomeIsDone(b.outcome);
                     });
    for (const auto& port : silent) summary.silentPorts.push_back(port.second);
    return summary;
}
