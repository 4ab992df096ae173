// The exit status of a fleet session from the runs it made.
#include <gtest/gtest.h>

#include "FleetRunner.h"

namespace {

PortRunRecord run(const char* port, std::optional<int> address, const char* outcome, int status) {
    PortRunRecord r;
    r.port = QLatin1String(port);
    r.address = address;
    // "no-station": a port of --all where nothing answered.
    r.noStation = QByteArray(outcome) == "no-station";
    r.outcome = r.noStation ? RunOutcome::NoAnswer : outcomeNamed(QByteArray(outcome)).value();
    r.exitStatus = status;
    return r;
}

}  // namespace

TEST(FleetRunner, ExitStatusCountsEachStationsLastRunOnItsPort) {
    const struct {
        const char* what;
        std::vector<PortRunRecord> runs;
        int status;
    } cases[] = {
        {"mended by the same station", {run("a", 291, "verify-failed", 7), run("a", 291, "moved", 0)}, 0},
        {"another station mends nothing", {run("a", 291, "verify-failed", 7), run("a", 292, "moved", 0)}, 7},
        {"the same address on another port", {run("a", 291, "moved", 0), run("b", 291, "no-answer", 5)}, 5},
        {"a run that read no address, then a station", {run("a", std::nullopt, "no-answer", 5), run("a", 293, "moved", 0)}, 0},
        {"a port that holds no station", {run("a", std::nullopt, "no-station", 5), run("b", 294, "already-moved", 1)}, 0},
        {"the highest of the failures left", {run("a", 1, "no-answer", 5), run("b", 2, "verify-failed", 7), run("b", 2, "other-system", 3)}, 5},
    };
    for (const auto& c : cases) EXPECT_EQ(fleetExitStatus(c.runs), c.status) << c.what;
}
