#include "LedgerMerge.h"

#include "RunOrder.h"

#include <QFile>
#include <algorithm>

#include "ReportInput.h"

namespace {

// A ledger line is a few hundred bytes; anything far longer is no line of
// one, and is skipped without being held whole.
constexpr qint64 kMaxLine = 64 * 1024;
// Malformed lines named one by one per file; the rest are counted.
constexpr int kNamedBadLines = 10;

// Reads one line of at most kMaxLine bytes into *line; a longer one is
// drained to its end and comes back marked `tooLong`. False at the end.
bool nextLine(QIODevice& in, QByteArray* line, bool* tooLong) {
    *tooLong = false;
    if (in.atEnd()) return false;
    *line = in.readLine(kMaxLine);
    if (line->isEmpty() && in.atEnd()) return false;
    if (!line->endsWith('\n') && !in.atEnd()) {
        *tooLong = true;
        QByteArray rest;
        do rest = in.readLine(kMaxLine);
        while (!rest.isEmpty() && !rest.endsWith('\n'));
    }
    return true;
}

}  // namespace

LedgerMerge::LedgerMerge(const QDateTime& since, const QDateTime& until) : since_(since), until_(until) {
    seen_.reserve(1 << 16);
}

bool LedgerMerge::readFile(const QString& path, QStringList* problems) {
    QFile file;
    return openReportInput(file, path, problems) && readDevice(file, path, problems);
}

bool LedgerMerge::readDevice(QIODevice& in, const QString& name, QStringList* problems) {
    QByteArray raw;
    bool tooLong = false;
    bool known = false;   // the first line said this is a ledger
    int number = 0;
    int bad = 0;
    while (nextLine(in, &raw, &tooLong)) {
        ++number;
        // A ledger saved again by a spreadsheet may begin with a byte-order mark.
        if (number == 1 && raw.startsWith("\xEF\xBB\xBF")) raw.remove(0, 3);
        const QByteArray line = raw.trimmed();
        if (line.isEmpty() && !tooLong) continue;
        if (!tooLong && ledger::isHeader(line)) {
            known = true;
            continue;
        }
        LedgerEntry entry;
        const bool parsed = !tooLong && ledger::parseLine(line, &entry);
        if (!known && !parsed) {
            problems->append(QStringLiteral("%1: not a ledger (line %2 is neither its header nor a run); skipped")
                                 .arg(name)
                                 .arg(number));
            return false;
        }
        known = true;
        if (!parsed) {
            if (++bad <= kNamedBadLines) problems->append(QStringLiteral("%1:%2: not a ledger line; skipped").arg(name).arg(number));
            continue;
        }
        if (!seen_.insert(qHash(line, size_t(0x9e3779b97f4a7c15u))).second) {
            ++duplicates_;
            continue;
        }
        add(entry);
    }
    const QFileDevice* file = qobject_cast<const QFileDevice*>(&in);
    if (file && file->error() != QFileDevice::NoError) {
        problems->append(QStringLiteral("%1: read failed (%2)").arg(name, in.errorString()));
        return false;
    }
    if (bad > kNamedBadLines)
        problems->append(QStringLiteral("%1: %2 more lines that are not ledger lines; skipped").arg(name).arg(bad - kNamedBadLines));
    files_.append(name);
    return true;
}

void LedgerMerge::add(const LedgerEntry& entry) {
    setups_.note(entry);
    if ((since_.isValid() && entry.time < since_) || (until_.isValid() && entry.time >= until_)) return;
    const RunOutcome outcome = outcomeNamed(entry.outcome).value_or(RunOutcome::Failed);
    ++runs_;
    if (!first_.isValid() || entry.time < first_) first_ = entry.time;
    if (!last_.isValid() || entry.time > last_) last_ = entry.time;
    ++days_[entry.time.date()][outcomeIndex(outcome)];
    ReportHost& host = hosts_[entry.host];
    host.host = entry.host;
    ++host.runs;
    if (outcome == RunOutcome::Moved) ++host.moves;
    if (needsAttention(outcome)) ++host.failures;
    if (!entry.address) {
        ++runsWithoutStation_;
        return;
    }
    Agg run;
    run.last = ReportRun{outcome, entry.time, entry.host, entry.port, entry.backup, entry.note};
    run.lastSeq = seq_++;
    if (outcomeIsDone(outcome)) run.firstMoved = entry.time;
    run.runs = 1;
    run.places.note(entry, outcome, run.lastSeq);
    merge(&stations_[{*entry.address, entry.setup}], run);
}

// Of two runs the later wins (RunOrder).
void LedgerMerge::merge(Agg* into, const Agg& from) {
    if (into->runs == 0 ||
        RunOrder{from.last.time, from.lastSeq}.laterThan(RunOrder{into->last.time, into->lastSeq})) {
        into->last = from.last;
        into->lastSeq = from.lastSeq;
    }
    if (from.firstMoved.isValid() && (!into->firstMoved.isValid() || from.firstMoved < into->firstMoved))
        into->firstMoved = from.firstMoved;
    into->runs += from.runs;
    into->places.merge(from.places);
}

MigrationReport LedgerMerge::finish() const {
    MigrationReport report;
    report.runs = runs_;
    report.runsWithoutStation = runsWithoutStation_;
    report.duplicates = duplicates_;
    report.firstRun = first_;
    report.lastRun = last_;
    report.since = since_;
    report.until = until_;
    report.files = files_;

    // The lines were kept by the setup they name; a run that read no setup
    // joins its station now that every setup is known.
    std::map<StationKey, Agg> stations;
    for (const auto& [key, agg] : stations_) merge(&stations[setups_.stationOf(key.first, key.second)], agg);
    // Stations on the new system at each day's end: from the day of their
    // first move, until the day of a last run that left them elsewhere.
    std::map<QDate, int> change;
    for (const auto& [key, agg] : stations) {
        report.stations.push_back(ReportStation{key.first, key.second, agg.last, agg.firstMoved, agg.runs,
                                                agg.places.latest.place, agg.places.old.place});
        if (!agg.firstMoved.isValid()) continue;
        ++change[agg.firstMoved.date()];
        if (stateAfter(agg.last.outcome) != StationState::Moved) --change[agg.last.time.date()];
    }
    int moved = 0;
    for (const auto& [day, runs] : days_) {
        const auto delta = change.find(day);
        if (delta != change.end()) moved += delta->second;
        report.days.push_back(ReportDay{day, runs, moved});
    }
    std::stable_sort(report.stations.begin(), report.stations.end(), [](const ReportStation& a, const ReportStation& b) {
        return int(a.state()) > int(b.state());   // needing attention, not moved, moved
    });
    for (const auto& entry : hosts_)
        if (!entry.first.isEmpty()) report.hosts.push_back(entry.second);
    const auto unknown = hosts_.find(QString());
    if (unknown != hosts_.end()) report.hosts.push_back(unknown->second);
    return report;
}
