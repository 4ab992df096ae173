#pragma once
// What the fleet window says of a port's runs, in its own (Russian) words:
// the outcome of a run and what to do about it, what a port is doing, and
// what went wrong beside the runs. The facts come typed from the fleet core,
// station/ and report/; only the words are here. What a lower layer says in
// its own words (a system's error, a file operation's reason) is quoted as
// the detail of a Russian sentence that says what happened and what to do.
#include <QString>

#include "FleetProblem.h"
#include "MigrationReport.h"
#include "PortActivity.h"
#include "PortWorker.h"
#include "RunOutcome.h"

// The outcome of a run: what happened and, when the station needs
// attention, what to do; `attention` as the station's state says
// (stateAfter), false for a port that holds no station.
struct OutcomeWords {
    QString text;
    bool attention = false;
};
OutcomeWords outcomeWords(RunOutcome outcome, bool noStation);

// What a port is doing; empty once its run has ended (the outcome says how).
QString activityWords(const PortActivity& activity);

// Beside a run's outcome (its tool tip, a screen reader's description):
// where the run's whole story is, and for a run whose child `program` never
// reported, that it did not start.
QString runNote(const QString& program, const PortRunRecord& run);
// A run's child wrote a line for people: the command line's own, in English.
// The window says where it is kept (the run's trace) instead of showing it.
QString childSaidWords(const QString& port);
// A file beside a run of `port` could not be written.
QString problemWords(const QString& port, const FleetProblem& problem);
// The ports could not be listed; `why` as the system said it.
QString portListWords(const QString& why);
// A report of the ledger `ledger` made for the page `page`: whether the page
// was written (`written`) and opened (`opened`), and every problem met,
// the ledger named when not all of it went into the report.
QString reportWords(const QString& page, const QString& ledger, const ReportResult& result, bool written,
                    bool opened);
