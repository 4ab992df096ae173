// program: its options, then a run on one port or on many.
#include <QCommandLineParser>

#include "Commands.h"
#include "ProgramFleet.h"
#include "ProgramOnePort.h"
#include "ProgramOptions.h"

int runProgram(const QStringList& args) {
    QCommandLineParser parser;
    ProgramRequest request;
    const int early = parseProgramOptions(parser, args, &request);
    if (early >= 0) return early;
    switch (request.route) {
    case ProgramRequest::Route::Probe:
        return runProbe(request.probePort);
    case ProgramRequest::Route::Fleet:
        return runFleetProgram(parser, request.fleet);
    case ProgramRequest::Route::OnePort:
        break;
    }
    return runOnePort(request.onePort);
}
