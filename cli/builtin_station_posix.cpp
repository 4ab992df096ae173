#include "BuiltInStation.h"
#include "CliOutput.h"
#include "PtyStationHost.h"
#include "ExitStatus.h"

namespace {

class PtyStation : public BuiltInStation {
public:
    bool start() { return host_.start(); }
    std::wstring portPath() const override { return host_.slavePathW(); }

private:
    sim::PtyStationHost host_;
};

}  // namespace

std::unique_ptr<BuiltInStation> startBuiltInStation(int* status) {
    auto station = std::make_unique<PtyStation>();
    if (station->start()) return station;
    printErr(QStringLiteral("rechannel-cli: could not start the simulated station"));
    *status = exit_status::otherFailure;
    return nullptr;
}
