#pragma once
// Programs several ports at the same time, each in its own child process
// running the single-port job, with a live status line per port and a
// summary at the end. A layer above the job: the job knows nothing of it.
#include <vector>

#include "PortWorker.h"

// The exit status of a fleet: 0 when every station's last run on its port
// ended moved or already-moved (or its port held no station), otherwise the
// highest status of those last runs that did not. A failure mended by a later
// run of the same station does not count; nor does a run that read no
// address once a later run on its port followed it.
int fleetExitStatus(const std::vector<PortRunRecord>& runs);

// The summary table: port, address, outcome, backup; one line per run.
QStringList fleetSummary(const std::vector<PortRunRecord>& runs);

// Runs until every port is done (with settings.wait: until interrupted and
// every child has ended). `live`: the status lines are drawn in place (both
// standard output and standard error are a terminal). Returns the exit status.
int runFleet(const std::vector<FleetPort>& ports, const FleetSettings& settings, bool live);
