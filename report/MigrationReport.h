#pragma once
// The migration report: the ledgers of several technicians' laptops merged
// into one picture of the fleet — which stations are moved, which need a
// second visit, who saw them last and how the work went day by day — and
// written as an HTML page, a CSV of stations or a text summary. The CLI's
// `report` and the window call the same entry point, makeReport().
#include <QDate>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <array>
#include <optional>
#include <vector>

#include "MeshSplit.h"
#include "Result.h"
#include "RunOutcome.h"
#include "StationPlace.h"
#include "StationPlan.h"

struct ReportRun {
    RunOutcome outcome = RunOutcome::Failed;
    QDateTime time;
    QString host;   // empty: a line of a ledger from before the host column
    QString port;
    QString backup;
    QString note;
};

// A station is its address and its setup (as the ledger summary tells them).
struct ReportStation {
    int address = 0;
    QString setup;        // empty when no run of it read its whole block
    ReportRun last;       // its last run
    QDateTime firstMoved; // its first move; invalid when never moved
    int runs = 0;
    std::optional<StationPlace> place;      // the latest place it reported; empty when never read
    std::optional<StationPlace> oldPlace;   // the latest it reported on the old system
    StationState state() const { return stateAfter(last.outcome); }
};

struct ReportDay {
    QDate day;                                // the technician's local date
    std::array<int, kOutcomeCount> runs{};    // by kRunOutcomes order
    int movedSoFar = 0;                       // stations on the new system at the day's end
};

struct ReportHost {
    QString host;   // empty: unknown
    int runs = 0;
    int moves = 0;
    int failures = 0;   // runs that ended neither moved, already moved nor restored
};

struct MigrationReport {
    // Those needing attention first, then the restored ones, then the moved;
    // by address and setup within each.
    std::vector<ReportStation> stations;
    std::vector<ReportDay> days;     // every day with a run, in order
    std::vector<ReportHost> hosts;   // by name, the unknown host last
    int runs = 0;                    // distinct runs counted
    int runsWithoutStation = 0;      // runs that read no station (no port, no answer)
    int duplicates = 0;              // lines met again in another file (or twice in one)
    QDateTime firstRun, lastRun;
    QDateTime since, until;          // the window asked for; invalid: open
    QStringList files;               // the ledgers read
    QDateTime made;                  // when the report was made
    StationPlan plan;                // the operator's plan; not `given` without one
    MeshSplit mesh;                  // the network by parent links, and where it is split

    int countState(StationState state) const;
    int countLast(RunOutcome outcome) const;   // stations whose last run ended so
};

// Russian words for the page and the text.
QString outcomeLabel(RunOutcome outcome);   // "переведена", "нет ответа", ...
QString outcomeAdvice(RunOutcome outcome);  // what to do about a station that ended so

struct ReportRequest {
    QStringList inputs;   // ledgers and folders (a folder: every *.csv in it)
    QDateTime since;      // invalid: from the first run
    QDateTime until;      // invalid: to the last run; a run at `until` is left out
    QString htmlFile;     // empty: none
    QString csvFile;      // empty: none
    QString planFile;     // the operator's plan of the network; empty: none
};

struct ReportResult {
    MigrationReport report;
    QStringList problems;    // for people: inputs not read, malformed lines, files not written
    bool allInputsRead = true;
    bool filesWritten = true;
};

ReportResult makeReport(const ReportRequest& request);

// The writers. Files are replaced atomically: a write that fails leaves what
// was there before and says why.
QByteArray reportHtml(const MigrationReport& report);
QByteArray reportCsv(const MigrationReport& report);
QString reportText(const MigrationReport& report);
Result<QString> writeReportFile(const QString& path, const QByteArray& bytes);
