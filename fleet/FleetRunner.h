#pragma once
// Programs several ports at the same time, each in its own child process
// running the single-port job, with a live status line per port and a
// summary at the end. A layer above the job: the job knows nothing of it.
#include <vector>

#include "PortWorker.h"

// The exit status of a fleet: 0 when every run ended moved or
// already-moved, otherwise the highest status of the runs that did not.
int fleetExitStatus(const std::vector<PortRunRecord>& runs);

// The summary table: port, address, outcome, backup; one line per run.
QStringList fleetSummary(const std::vector<PortRunRecord>& runs);

// Runs until every port is done (with settings.wait: until interrupted and
// every child has ended). Returns the exit status.
int runFleet(const std::vector<FleetPort>& ports, const FleetSettings& settings, bool terminal);
