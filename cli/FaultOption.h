#pragma once
// --fault for the simulated station: KIND[=ARGS][@WHEN]
//   KIND: noreply | delay=MS | pieces=BYTES,GAPMS | badcrc | status=N | echo |
//         garbage=N | oversized | datalen=N | ignorewrite | powerlost
//   WHEN: an exchange number from 0, or * for every exchange (default *);
//         powerlost needs @N: no reply from exchange N on.
#include <QString>

#include "Faults.h"

// Adds the fault to the script; false with a message for a malformed option.
bool applyFaultOption(const QString& text, sim::FaultScript& script, QString* error);
