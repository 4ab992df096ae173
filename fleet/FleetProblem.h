#pragma once
// A problem the fleet core itself meets beside a port's runs (not the run's
// outcome, not a line its child wrote), told in types and worded by each
// front end: the CLI's board in English (problemText), the fleet window in
// Russian.
#include <QString>

struct FleetProblem {
    enum class Kind {
        LedgerNotWritten,   // a run ended by a signal: its line could not be added to the ledger `file`
        TraceIncomplete,    // the run's last lines could not be added to its trace `file`
    };
    Kind kind = Kind::LedgerNotWritten;
    QString file;
    QString why;   // as the file operation said it
};

inline QString problemText(const FleetProblem& problem) {
    switch (problem.kind) {
    case FleetProblem::Kind::LedgerNotWritten:
        return QStringLiteral("The ledger %1 could not be written: %2").arg(problem.file, problem.why);
    case FleetProblem::Kind::TraceIncomplete:
        break;
    }
    return QStringLiteral("the trace %1 lacks the run's last lines: %2").arg(problem.file, problem.why);
}
