#pragma once
// program on one port: the window's job (the same WorkThread and run) with
// the read-back check and a required backup, the trace on standard output
// and the outcome as the last line of standard error; and the probe the
// fleet runner's --wait loop runs.
#include <QString>

#include "ProgramOptions.h"

// Returns the exit status of the run's outcome.
int runOnePort(ProgramOptions options);

// Reads the station's parameter head once, with one attempt and no writes,
// and reports its address.
int runProbe(const QString& port);
