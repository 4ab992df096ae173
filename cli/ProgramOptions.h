#pragma once
// The options of `program`, parsed and checked, and which of its runs they
// ask for: one port, many ports (the fleet runner), or the fleet's probe.
#include <QCommandLineParser>
#include <QString>
#include <QStringList>
#include <string>

// A run on one port.
struct ProgramOptions {
    std::wstring devicePath;     // as given; resolved when the run begins
    bool simulate = false;       // the built-in simulated station instead
    bool verify = true;          // --no-verify turns it off
    bool backup = true;          // --no-backup: write without a backup
    bool wireTrace = false;
    bool reportPhases = false;   // report lines for the fleet runner
};

// A run on several ports at once, on every discovered port (--all), or
// waiting for station after station (--wait).
struct FleetArguments {
    QStringList ports;     // --port values, as given
    bool all = false;
    QString match;         // with --all: display names containing this
    bool wait = false;
    QStringList childOptions;   // handed on to every single-port run
};

struct ProgramRequest {
    enum class Route { OnePort, Fleet, Probe } route = Route::OnePort;
    ProgramOptions onePort;
    FleetArguments fleet;
    QString probePort;     // Probe: the port as given
};

// Parses the arguments of `program` into `request`. Returns -1 to go on,
// otherwise the exit status to return at once (after --help or a usage
// error). `parser` stays the command's: later usage errors name its options.
int parseProgramOptions(QCommandLineParser& parser, const QStringList& args, ProgramRequest* request);
