#pragma once
// The built-in simulated station behind `program --simulate` and `simulate`.
// It answers on a pseudo-terminal, so it exists only where there are
// pseudo-terminals; elsewhere both commands refuse with a usage error.
#include <memory>
#include <string>

class BuiltInStation {
public:
    virtual ~BuiltInStation() = default;
    // The port the job opens to reach the station.
    virtual std::wstring portPath() const = 0;
};

// Starts the station; on failure says why on standard error, puts the exit
// status in `*status` and returns nothing.
std::unique_ptr<BuiltInStation> startBuiltInStation(int* status);
