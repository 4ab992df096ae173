#pragma once
// The operator's plan of the network: a CSV with a header and a column
// `address` (decimal, or hex with 0x), optionally `name` and `place` (the
// operator's own words: a site, a street), any other columns ignored. The
// report counts the migration against it. A plan usually comes out of a
// spreadsheet: commas or semicolons, UTF-8 or Windows-1251 text, quoted
// fields, a byte-order mark, CR LF line ends all read.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <vector>

struct PlanStation {
    int address = 0;   // 0..65535
    QString name;      // as the plan gives it; empty when it has none
    QString place;
    int line = 0;      // where the plan names it (its first line, for a record over several)
};

struct StationPlan {
    bool given = false;                 // a plan was read
    QString path;                       // where from
    std::vector<PlanStation> stations;  // each address once, by address
    const PlanStation* find(int address) const;
    bool contains(int address) const { return find(address) != nullptr; }
};

// Reads the plan at `path`. False, with the reason in `problems`, for a
// file that cannot be read or is no plan (a ledger, the report's own CSV or
// page, a file without an `address` column): nothing of it counts then. A
// line that does not parse, an address out of the 16-bit range and an
// address named again are each named by line and left out.
bool readStationPlan(const QString& path, StationPlan* plan, QStringList* problems);
// The same on the file's bytes; `name` names it in the problems.
bool parseStationPlan(const QByteArray& bytes, const QString& name, StationPlan* plan, QStringList* problems);
