// The ledger's outcome name for every way a run can end, window and CLI alike.
#include <gtest/gtest.h>

#include "JobMessages.h"
#include "JobRun.h"
#include "RunLedger.h"
#include "StationRecord.h"

namespace {

using Verify = VerifyResult;

TEST(RunLedger, EveryOutcomeHasItsName) {
    const struct {
        RunResult result;
        Verify verify;
        const char* name;
    } cases[] = {
        {{true, false, {}, 0}, Verify::NotRun, "moved"},
        {{true, false, {}, 0}, Verify::Passed, "moved"},
        {{false, true, job_messages::alreadyMoved(), 1000}, Verify::NotRun, "already-moved"},
        {{false, true, job_messages::foreignSystem(), 255}, Verify::NotRun, "other-system"},
        {{false, true, job_messages::unknownError(), 255}, Verify::NotRun, "failed"},
        {{false, true, job_messages::portNotOpened(), 1}, Verify::NotRun, "no-port"},
        {{false, true, job_messages::noAnswer(), -1}, Verify::NotRun, "no-answer"},
        {{false, true, job_messages::noAnswer(), -2}, Verify::NotRun, "no-answer"},
        {{false, true, job_messages::noAnswer(), 6}, Verify::NotRun, "no-answer"},
        {{false, true, job_messages::noAnswer(), 7}, Verify::NotRun, "unsupported"},
        {{false, true, job_messages::partlyWritten(), -1}, Verify::NotRun, "partly-written"},
        {{false, true, job_messages::partlyWritten(), -2}, Verify::NotRun, "partly-written"},
        {{false, true, job_messages::noAnswer(), job_messages::kCodeVerifyMismatch}, Verify::Failed, "verify-failed"},
        {{false, true, job_messages::noAnswer(), -1}, Verify::Failed, "verify-failed"},
        {{false, true, job_messages::noAnswer(), -1, true}, Verify::NotRun, "interrupted"},
        {{false, true, job_messages::noAnswer(), 42}, Verify::NotRun, "failed"},
        {{false, false, {}, 0}, Verify::NotRun, "failed"},   // no outcome signal at all
    };
    for (const auto& c : cases)
        EXPECT_EQ(ledgerOutcome(c.result, c.verify), QLatin1String(c.name)) << c.name << " " << c.result.code;
}

// A run that reads the head and then loses the station still names the
// station and what it was on: system code and channel 0 are in the head.
TEST(RunLedger, AHeadReadAloneGivesTheValuesBefore) {
    StationRecord::create();
    sim::DefaultStationOptions options;
    options.address = 812;
    options.channel0 = 733;
    sim::PtyStationHost host(sim::makeDefaultStation(options));
    sim::FaultScript lost;
    lost.powerLostFrom(1);
    host.setFaults(lost);
    ASSERT_TRUE(host.start());
    WorkThread thread;
    const JobOutcome outcome = runJob(thread, host.slavePathW());
    ASSERT_EQ(outcome.code(), -1);
    const LedgerEntry entry =
        ledgerEntryFor(thread, RunResult{false, true, outcome.text(), outcome.code()}, QStringLiteral("p"), 1.0);
    EXPECT_EQ(entry.outcome, "no-answer");
    EXPECT_EQ(entry.address, 812);
    EXPECT_EQ(entry.systemBefore, 0x9E);
    EXPECT_EQ(entry.channelBefore, 733);
}

}  // namespace
