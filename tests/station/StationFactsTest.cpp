// The facts every reader of a run's outcome shares: where the station stands
// after it, the outcome's row in the tables kept per outcome, its ledger
// name both ways, and which station a ledger line belongs to.
#include <gtest/gtest.h>

#include "RunOutcome.h"
#include "StationKey.h"

namespace {

TEST(StationFacts, EveryOutcomeLeavesItsStationMovedNotMovedOrNeedingAVisit) {
    using S = StationState;
    const struct {
        RunOutcome outcome;
        const char* name;   // in the ledger, written and read
        S state;
    } cases[] = {
        {RunOutcome::Moved, "moved", S::Moved},
        {RunOutcome::AlreadyMoved, "already-moved", S::Moved},
        {RunOutcome::Restored, "restored", S::NotMoved},   // put back on purpose
        {RunOutcome::OtherSystem, "other-system", S::NeedsAttention},
        {RunOutcome::Unsupported, "unsupported", S::NeedsAttention},
        {RunOutcome::NoPort, "no-port", S::NeedsAttention},
        {RunOutcome::NoAnswer, "no-answer", S::NeedsAttention},
        {RunOutcome::PortLost, "port-lost", S::NeedsAttention},
        {RunOutcome::PartlyWritten, "partly-written", S::NeedsAttention},
        {RunOutcome::VerifyFailed, "verify-failed", S::NeedsAttention},
        {RunOutcome::Interrupted, "interrupted", S::NeedsAttention},
        {RunOutcome::Failed, "failed", S::NeedsAttention},
    };
    ASSERT_EQ(std::size(cases), std::size(kRunOutcomes)) << "a row here for every outcome";
    for (const auto& c : cases) {
        EXPECT_EQ(stateAfter(c.outcome), c.state) << c.name;
        EXPECT_EQ(needsAttention(c.outcome), c.state == S::NeedsAttention) << c.name;
        EXPECT_EQ(outcomeIsDone(c.outcome), c.state == S::Moved) << c.name;
        EXPECT_EQ(outcomeName(c.outcome), QLatin1String(c.name));
        EXPECT_EQ(outcomeNamed(QByteArray(c.name)), c.outcome) << c.name;
        EXPECT_EQ(outcomeNamed(QString::fromLatin1(c.name)), c.outcome) << c.name;
        // The tables kept per outcome find this outcome's own row.
        EXPECT_EQ(kRunOutcomes[outcomeIndex(c.outcome)].outcome, c.outcome) << c.name;
    }
    for (const char* none : {"", "Moved", "moved ", "no-station", "needs-attention", "movedx"})
        EXPECT_EQ(outcomeNamed(QByteArray(none)), std::nullopt) << none;
    // A value no outcome has (a damaged record) is read as a failure, never
    // past the end of a table.
    EXPECT_EQ(outcomeIndex(static_cast<RunOutcome>(kOutcomeCount)), outcomeIndex(RunOutcome::Failed));
    EXPECT_EQ(outcomeIndex(static_cast<RunOutcome>(-1)), outcomeIndex(RunOutcome::Failed));
    EXPECT_STREQ(stateName(S::Moved), "moved");
    EXPECT_STREQ(stateName(S::NotMoved), "not-moved");
    EXPECT_STREQ(stateName(S::NeedsAttention), "needs-attention");
}

// A station is its address and setup; a line without a setup joins the one
// station of its address when the lines know a single setup for it.
TEST(StationFacts, ALineBelongsToTheStationOfItsAddressAndSetup) {
    const auto line = [](std::optional<int> address, const char* setup) {
        LedgerEntry e;
        e.address = address;
        e.setup = QLatin1String(setup);
        return e;
    };
    const struct {
        const char* what;
        std::vector<LedgerEntry> known;
        int address;
        const char* setup;
        StationKey station;
    } cases[] = {
        {"nothing known", {}, 291, "", {291, ""}},
        {"its own setup", {line(291, "aaaa")}, 291, "bbbb", {291, "bbbb"}},
        {"the one setup known", {line(291, "aaaa"), line(291, "aaaa")}, 291, "", {291, "aaaa"}},
        {"namesakes: which one is not known", {line(291, "aaaa"), line(291, "bbbb")}, 291, "", {291, ""}},
        {"another address's setup", {line(292, "aaaa")}, 291, "", {291, ""}},
        {"a line without setup teaches none", {line(291, "")}, 291, "", {291, ""}},
        {"a setup without address teaches none", {line(std::nullopt, "aaaa")}, 291, "", {291, ""}},
    };
    for (const auto& c : cases) {
        KnownSetups setups;
        for (const LedgerEntry& known : c.known) setups.note(known);
        EXPECT_EQ(setups.stationOf(c.address, QLatin1String(c.setup)), c.station) << c.what;
        EXPECT_EQ(setups.stationOf(line(c.address, c.setup)), c.station) << c.what;
    }
}

}  // namespace
