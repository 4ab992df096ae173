#pragma once
// Merges ledgers line by line into a MigrationReport without keeping the
// lines: per station one record, per day and host a few counters, and per
// distinct line a 64-bit fingerprint so that a line met again (the same
// ledger copied twice, a backup of a ledger) counts once.
#include <QIODevice>
#include <QString>
#include <QStringList>
#include <map>
#include <set>
#include <unordered_set>
#include <utility>

#include "Ledger.h"
#include "MigrationReport.h"
#include "StationKey.h"
#include "StationPlaces.h"

class LedgerMerge {
public:
    LedgerMerge(const QDateTime& since, const QDateTime& until);

    // Reads one ledger file. False, with the reason in `problems`, for a
    // file that cannot be read or is no ledger: nothing of it counts then.
    // A malformed line is named there by file and line number and skipped.
    bool readFile(const QString& path, QStringList* problems);
    // The same on an open device; `name` names it in the problems.
    bool readDevice(QIODevice& in, const QString& name, QStringList* problems);

    MigrationReport finish() const;

private:
    struct Agg {
        ReportRun last;
        qint64 lastSeq = -1;
        QDateTime firstMoved;
        int runs = 0;
        StationPlaces places;
    };
    void add(const LedgerEntry& entry);
    static void merge(Agg* into, const Agg& from);

    QDateTime since_, until_;
    qint64 seq_ = 0;
    std::unordered_set<size_t> seen_;
    KnownSetups setups_;
    std::map<StationKey, Agg> stations_;
    std::map<QDate, std::array<int, kOutcomeCount>> days_;
    std::map<QString, ReportHost> hosts_;
    int runs_ = 0;
    int runsWithoutStation_ = 0;
    int duplicates_ = 0;
    QDateTime first_, last_;
    QStringList files_;
};
