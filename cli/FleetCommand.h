#pragma once
// program on several ports at once, on every discovered port (--all), or
// waiting for station after station (--wait): handed to the fleet runner.
#include <QCommandLineParser>
#include <QStringList>
#include <memory>

struct FleetArguments {
    QStringList ports;     // --port values, as given
    bool all = false;
    QString match;         // with --all: display names containing this
    bool wait = false;
    QStringList childOptions;   // handed on to every single-port run
};

// True when the arguments ask for more than one plain single-port run.
bool wantsFleet(const FleetArguments& args);
int runFleetProgram(const QCommandLineParser& parser, const FleetArguments& args);

// The hidden probe the --wait loop runs: reads the station's parameter head
// once, with one attempt and no writes, and reports its address.
int runProbe(const QString& port);

// The report lines a fleet child prints for its runner while it lives: each
// phase, and the station's address as soon as the block head has been read.
class WorkThread;
void reportPhases(WorkThread& thread);

// Appends a single-port run's ledger line (saying on standard error when it
// cannot) and, with `report`, the result line for the fleet runner.
class RunLedger;
struct JobOutcome;
void logProgramRun(RunLedger& ledger, const WorkThread& thread, const JobOutcome& outcome, bool report);
// The same for a run an interrupt ends before its first write, naming the
// backup it had already saved (empty when none) on standard error too.
void logInterruptedRun(RunLedger& ledger, const WorkThread& thread, const QString& backup, bool report);
