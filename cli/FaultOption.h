#pragma once
// --fault for the simulated station: KIND[=ARGS][@WHEN], as sim::FaultScript::add
// reads it.
#include <QString>

#include "Faults.h"

// Adds the fault to the script; false with a message for a malformed option.
bool applyFaultOption(const QString& text, sim::FaultScript& script, QString* error);
