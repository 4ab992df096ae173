#include "ProgramOptions.h"

#include "Commands.h"

namespace {

// True when the arguments ask for more than one plain single-port run.
bool wantsFleet(const FleetArguments& args) { return args.ports.size() > 1 || args.all || args.wait; }

// Every option of `program`, in the order --help lists them.
struct Options {
    QCommandLineOption port, simulated, verify, noVerify, noBackup, wireTrace, all, match, wait, reportPhases, probe;
};

Options programOptions() {
    Options o{
        {QStringLiteral("port"),
         QStringLiteral("Serial device of the station: a path, a node name (ttyUSB0) or a "
                        "name as 'ports' lists it. Repeat it to program several ports at once."),
         QStringLiteral("PORT")},
        {QStringLiteral("simulate"), QStringLiteral("Program the built-in simulated station (no hardware).")},
        {QStringLiteral("verify"), QStringLiteral("Read the writes back (the default; kept for old scripts).")},
        {QStringLiteral("no-verify"), QStringLiteral("Do not read the channel table, block 0 and system code back.")},
        {QStringLiteral("no-backup"), QStringLiteral("Write even when no backup of the station can be saved.")},
        {QStringLiteral("wire-trace"), QStringLiteral("Every frame both ways on standard error.")},
        {QStringLiteral("all"), QStringLiteral("Program every discovered port at once.")},
        {QStringLiteral("match"), QStringLiteral("With --all: only the ports whose name contains TEXT."),
         QStringLiteral("TEXT")},
        {QStringLiteral("wait"), QStringLiteral("Wait for station after station on the ports until interrupted.")},
        {QStringLiteral("report-phases"), QStringLiteral("For the fleet runner.")},
        {QStringLiteral("probe"), QStringLiteral("For the fleet runner.")},
    };
    o.reportPhases.setFlags(QCommandLineOption::HiddenFromHelp);
    o.probe.setFlags(QCommandLineOption::HiddenFromHelp);
    return o;
}

// The checks and the children's options of a fleet run.
int routeFleet(const QCommandLineParser& parser, const Options& o, ProgramRequest* request) {
    FleetArguments& fleet = request->fleet;
    if (parser.isSet(o.simulated) || parser.isSet(o.wireTrace))
        return usageError(parser, QStringLiteral("--simulate and --wire-trace take one port"));
    if (fleet.all && !fleet.ports.isEmpty()) return usageError(parser, QStringLiteral("give either --port or --all"));
    if (!fleet.all && !fleet.match.isEmpty()) return usageError(parser, QStringLiteral("--match goes with --all"));
    if (!fleet.all && fleet.ports.isEmpty()) return usageError(parser, QStringLiteral("--wait needs --port or --all"));
    if (parser.isSet(o.noVerify)) fleet.childOptions << QStringLiteral("--no-verify");
    if (parser.isSet(o.noBackup)) fleet.childOptions << QStringLiteral("--no-backup");
    request->route = ProgramRequest::Route::Fleet;
    return -1;
}

}  // namespace

int parseProgramOptions(QCommandLineParser& parser, const QStringList& args, ProgramRequest* request) {
    const Options o = programOptions();
    parser.addOptions({o.port, o.simulated, o.verify, o.noVerify, o.noBackup, o.wireTrace, o.all, o.match, o.wait,
                       o.reportPhases, o.probe});
    const int early = parseCommandLine(parser, args,
                                       QStringLiteral("Moves a 0x9E station to channel 1902, fine offset 2, system 0x3A."));
    if (early >= 0) return early;
    if (!parser.positionalArguments().isEmpty())
        return usageError(parser, QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first()));
    if (parser.isSet(o.verify) && parser.isSet(o.noVerify))
        return usageError(parser, QStringLiteral("give at most one of --verify and --no-verify"));
    if (parser.isSet(o.probe)) {
        request->route = ProgramRequest::Route::Probe;
        request->probePort = parser.value(o.port);
        return -1;
    }
    request->fleet =
        FleetArguments{parser.values(o.port), parser.isSet(o.all), parser.value(o.match), parser.isSet(o.wait), {}};
    if (wantsFleet(request->fleet) || parser.isSet(o.match)) return routeFleet(parser, o, request);
    if (parser.isSet(o.port) == parser.isSet(o.simulated))
        return usageError(parser, QStringLiteral("give exactly one of --port PATH and --simulate"));
    if (parser.isSet(o.port) && parser.value(o.port).isEmpty())
        return usageError(parser, QStringLiteral("--port PATH is required"));
    ProgramOptions& options = request->onePort;
    options.devicePath = parser.value(o.port).toStdWString();
    options.simulate = parser.isSet(o.simulated);
    options.verify = !parser.isSet(o.noVerify);
    options.backup = !parser.isSet(o.noBackup);
    options.wireTrace = parser.isSet(o.wireTrace);
    options.reportPhases = parser.isSet(o.reportPhases);
    request->route = ProgramRequest::Route::OnePort;
    return -1;
}
