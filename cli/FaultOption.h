#pragma once
// --fault for the simulated station: KIND[=ARGS][@WHEN], as sim::FaultScript::add
// reads it.
#include <QString>

#include "Faults.h"
#include "Result.h"

// Adds the fault to the script; fails with a message for a malformed option.
Result<QString> applyFaultOption(const QString& text, sim::FaultScript& script);
