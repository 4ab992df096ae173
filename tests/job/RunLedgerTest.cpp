// The ledger's outcome name for every way a run can end, window and CLI alike.
#include <gtest/gtest.h>

#include "JobMessages.h"
#include "RunLedger.h"

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
        {{false, true, job_messages::noAnswer(), 7}, Verify::NotRun, "no-answer"},
        {{false, true, job_messages::noAnswer(), job_messages::kCodeVerifyMismatch}, Verify::Failed, "verify-failed"},
        {{false, true, job_messages::noAnswer(), -1}, Verify::Failed, "verify-failed"},
        {{false, true, job_messages::noAnswer(), -1, true}, Verify::NotRun, "interrupted"},
        {{false, true, job_messages::noAnswer(), 42}, Verify::NotRun, "failed"},
        {{false, false, {}, 0}, Verify::NotRun, "failed"},   // no outcome signal at all
    };
    for (const auto& c : cases)
        EXPECT_EQ(ledgerOutcome(c.result, c.verify), QLatin1String(c.name)) << c.name << " " << c.result.code;
}

}  // namespace
