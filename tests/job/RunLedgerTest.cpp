// The ledger's outcome name for every way a run can end, window and CLI alike.
#include <gtest/gtest.h>

#include "JobMessages.h"
#include "JobRun.h"
#include "RunLedger.h"
#include "StationRecord.h"

namespace {

using Verify = VerifyResult;

// How the job names a run it ended with a thrown code (a move, an already
// moved station and a foreign one it names where it finds them).
TEST(RunLedger, EveryOutcomeHasItsName) {
    const struct {
        int code;
        bool partlyWritten;
        Verify verify;
        const char* name;
    } cases[] = {
        {1000, false, Verify::NotRun, "already-moved"},
        {255, false, Verify::NotRun, "failed"},
        {1, false, Verify::NotRun, "no-port"},
        {-1, false, Verify::NotRun, "no-answer"},
        {-2, false, Verify::NotRun, "no-answer"},
        {6, false, Verify::NotRun, "no-answer"},
        {7, false, Verify::NotRun, "unsupported"},
        {-1, true, Verify::NotRun, "partly-written"},
        {-2, true, Verify::NotRun, "partly-written"},
        {job_messages::kCodeVerifyMismatch, false, Verify::Failed, "verify-failed"},
        {-1, false, Verify::Failed, "verify-failed"},
        {job_messages::kCodeStopped, false, Verify::NotRun, "interrupted"},
        {42, false, Verify::NotRun, "failed"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(outcomeName(failureOutcome(c.code, c.partlyWritten, c.verify)), QLatin1String(c.name))
            << c.name << " " << c.code;
    EXPECT_EQ(outcomeName(RunResult().outcome), "failed") << "no outcome signal at all";
}

// The codes a run ends with keep the numbers and the words the window, the
// ledger and the station service have always given them.
TEST(RunLedger, EachCodeKeepsItsNumberWordsAndOutcome) {
    const QString noAnswer = QString::fromUtf8("Нет ответа от Станции.");
    const struct {
        int code;
        int number;
        QString shown;   // in the window's box
        const char* ledger;
    } cases[] = {
        {link_codes::kNoReply, -1, noAnswer, "no-answer"},
        {link_codes::kRefused, -2, noAnswer, "no-answer"},
        {link_codes::kVersionZero, 6, noAnswer, "no-answer"},
        {link_codes::kBandMismatch, 7, noAnswer, "unsupported"},
        {job_messages::kCodePortNotOpened, 1, QString::fromUtf8("Невозможно открыть COM-порт."), "no-port"},
        {job_messages::kCodePortLost, 12, outcomeMessage(RunOutcome::PortLost), "port-lost"},
        {job_messages::kCodeVerifyMismatch, 8, outcomeMessage(RunOutcome::VerifyFailed), "verify-failed"},
        {job_messages::kCodeSystemCodeUnconfirmed, 10, noAnswer, "verify-failed"},
        {job_messages::kCodeRestartNotSent, 11, noAnswer, "failed"},
        {job_messages::kCodeAlreadyMoved, 1000, QString::fromUtf8("Станция уже переведена на нужную частоту!"),
         "already-moved"},
        {job_messages::kCodeForeignOrUnknown, 255, QString::fromUtf8("Неизветная ошибка"), "failed"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.code, c.number);
        EXPECT_EQ(outcomeMessage(job_messages::codeRow(c.code).worded), c.shown) << c.number;
        EXPECT_EQ(outcomeName(failureOutcome(c.code, false, Verify::NotRun)), QLatin1String(c.ledger)) << c.number;
    }
    // The port lost is the link's own -3, which the job says as its code 12.
    EXPECT_EQ(link_codes::kPortLost, -3);
}

// A station refused at identification was read whole first: its line names
// its setup. One that never answered has none.
TEST(RunLedger, AStationRefusedAtIdentificationIsNamedByItsSetup) {
    StationRecord::create();
    const struct {
        const char* what;
        std::uint8_t version;
        std::uint8_t bandType;
        int lostAfter;   // requests answered before the power goes; -1: never
        int code;
        bool setup;
    } cases[] = {
        {"version 0", 0, 4, -1, 6, true},
        {"band 2 in range 1", 0x81, 2, -1, 7, true},
        {"silent after the head", 0x81, 4, 1, -1, false},
    };
    for (const auto& c : cases) {
        sim::DefaultStationOptions options;
        options.address = 812;
        options.version = c.version;
        options.bandType = c.bandType;
        sim::PtyStationHost host(sim::makeDefaultStation(options));
        if (c.lostAfter >= 0) {
            sim::FaultScript lost;
            lost.powerLostFrom(c.lostAfter);
            host.setFaults(lost);
        }
        ASSERT_TRUE(host.start()) << c.what;
        WorkThread thread;
        const JobOutcome outcome = runJob(thread, host.slavePathW());
        ASSERT_EQ(outcome.code(), c.code) << c.what;
        const LedgerEntry entry = ledgerEntryFor(thread, thread.result(), QStringLiteral("p"), 1.0);
        EXPECT_EQ(entry.address, 812) << c.what;
        EXPECT_EQ(!entry.setup.isEmpty(), c.setup) << c.what;
    }
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
        ledgerEntryFor(thread, thread.result(), QStringLiteral("p"), 1.0);
    EXPECT_EQ(entry.outcome, "no-answer");
    EXPECT_EQ(entry.address, 812);
    EXPECT_EQ(entry.systemBefore, 0x9E);
    EXPECT_EQ(entry.channelBefore, 733);

    // The record is shared: by the time the line is made it may hold another
    // station's head (a station file loaded, another run). Its values are
    // then not this station's.
    ParamHead other{};
    other[2] = 0x84;   // address 900
    other[3] = 0x03;
    other[4] = 0x3A;
    other[12] = 0x6E;   // channel 0 at 1902
    other[13] = 0x07;
    StationRecord::instance()->setParams(other.data());
    const LedgerEntry stale =
        ledgerEntryFor(thread, thread.result(), QStringLiteral("p"), 1.0);
    EXPECT_EQ(stale.address, 812);
    EXPECT_EQ(stale.systemBefore, std::nullopt);
    EXPECT_EQ(stale.channelBefore, std::nullopt);
}

// An interrupted run's line names what the station was on only from the
// head this run read: never from a head an earlier run left behind.
TEST(RunLedger, AnInterruptedLineTakesOnlyThisRunsHead) {
    std::uint8_t head[16] = {};
    head[2] = 0x2C;   // 812
    head[3] = 0x03;
    head[4] = 0x9E;
    head[12] = 0xDD;   // 733
    head[13] = 0x02;
    RunLedger ledger;
    ledger.begin(QStringLiteral("p"));
    ledger.noteHead(head);
    ledger.finishInterrupted(130, 812, QStringLiteral("/b.bin"));
    EXPECT_EQ(ledger.lastEntry().address, 812);
    EXPECT_EQ(ledger.lastEntry().systemBefore, 0x9E);
    EXPECT_EQ(ledger.lastEntry().channelBefore, 733);
    EXPECT_EQ(ledger.lastEntry().backup, "/b.bin");

    ledger.begin(QStringLiteral("p"));   // the next run, interrupted before its head
    ledger.finishInterrupted(130, -1, QString());
    EXPECT_EQ(ledger.lastEntry().outcome, "interrupted");
    EXPECT_FALSE(ledger.lastEntry().address);
    EXPECT_FALSE(ledger.lastEntry().systemBefore);
    EXPECT_FALSE(ledger.lastEntry().channelBefore);
}

}  // namespace
