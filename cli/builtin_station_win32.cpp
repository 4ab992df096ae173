// Windows has no pseudo-terminals, so the simulated station cannot run here:
// `simulate` and `program --simulate` say so and end as a usage error.
#include "BuiltInStation.h"
#include "CliOutput.h"
#include "Commands.h"
#include "ExitStatus.h"

namespace {

int refuse(const QString& what) {
    printErr(QStringLiteral("rechannel-cli: %1 needs a pseudo-terminal, which Windows does not have; run it on Linux, "
                            "or program a station on a COM port with --port COMn")
                 .arg(what));
    return exit_status::usage;
}

}  // namespace

std::unique_ptr<BuiltInStation> startBuiltInStation(int* status) {
    *status = refuse(QStringLiteral("the simulated station (--simulate)"));
    return nullptr;
}

int runSimulate(const QStringList&) { return refuse(QStringLiteral("simulate")); }
