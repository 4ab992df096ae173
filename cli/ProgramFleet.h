#pragma once
// program on several ports at once, on every discovered port (--all), or
// waiting for station after station (--wait): handed to the fleet runner.
#include <QCommandLineParser>

#include "ProgramOptions.h"

// `parser` is the command's, for the usage errors found once the ports are
// looked up.
int runFleetProgram(const QCommandLineParser& parser, const FleetArguments& args);
