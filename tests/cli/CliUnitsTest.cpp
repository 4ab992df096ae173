// The CLI's own logic: outcome mapping, --fault options, the wire trace lines.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <pty.h>
#include <sys/file.h>
#include <unistd.h>

#include "ChildReport.h"
#include "FaultOption.h"
#include "JobMessages.h"
#include "Outcome.h"
#include "PortOpenDiagnosis.h"
#include "WireTrace.h"

namespace {

// A run the job ended with `code`; the job tells a foreign station (255 too)
// from an unknown failure itself.
RunResult errorOutcome(const QString& text, int code, std::optional<RunOutcome> outcome = std::nullopt) {
    return RunResult{outcome.value_or(failureOutcome(code, false, VerifyResult::NotRun)), text, code, false};
}

TEST(Outcome, EveryJobOutcomeHasItsExitStatusAndLine) {
    const RunResult moved{RunOutcome::Moved, {}, 0, false};
    EXPECT_EQ(exitStatusOf(moved.outcome), 0);
    EXPECT_EQ(outcomeLine(moved), job_messages::moved());

    EXPECT_EQ(exitStatusOf(errorOutcome(job_messages::alreadyMoved(), 1000).outcome), 1);
    EXPECT_EQ(outcomeLine(errorOutcome(job_messages::alreadyMoved(), 1000)),
              QString::fromUtf8("Станция уже переведена на нужную частоту! (1000)"));
    EXPECT_EQ(exitStatusOf(errorOutcome(job_messages::foreignSystem(), 255, RunOutcome::OtherSystem).outcome), 3);
    EXPECT_EQ(exitStatusOf(errorOutcome(job_messages::unknownError(), 255).outcome), 6);
    EXPECT_EQ(exitStatusOf(errorOutcome(job_messages::portNotOpened(), 1).outcome), 4);
    EXPECT_EQ(outcomeLine(errorOutcome(job_messages::portNotOpened(), 1)),
              QString::fromUtf8("Невозможно открыть COM-порт. (1)"));
    for (int code : {-1, -2, 6})
        EXPECT_EQ(exitStatusOf(errorOutcome(job_messages::noAnswer(), code).outcome), 5) << code;
    EXPECT_EQ(exitStatusOf(errorOutcome(job_messages::noAnswer(), 7).outcome), 3) << "the plan does not cover the station";
    EXPECT_EQ(outcomeLine(errorOutcome(job_messages::noAnswer(), 7)), QString::fromUtf8("Нет ответа от Станции. (7)"));
    // A failed read-back and a refused backup say what happened, never "no answer".
    const RunResult verifyFailed = errorOutcome(job_messages::noAnswer(), job_messages::kCodeVerifyMismatch);
    EXPECT_EQ(exitStatusOf(verifyFailed.outcome), 7);
    EXPECT_TRUE(outcomeLine(verifyFailed).startsWith(QStringLiteral("verify failed, the station stays on its old system")));
    const RunResult noBackup = errorOutcome(job_messages::noAnswer(), job_messages::kCodeBackupNotSaved);
    EXPECT_EQ(exitStatusOf(noBackup.outcome), 6);
    const RunResult failedCheck =
        errorOutcome(job_messages::noAnswer(), -1, failureOutcome(-1, false, VerifyResult::Failed));
    EXPECT_EQ(exitStatusOf(failedCheck.outcome), 7)
        << "a failed read-back is verify failed, as in the ledger, whatever came after";
    EXPECT_TRUE(outcomeLine(noBackup).contains(QStringLiteral("nothing written")));
    EXPECT_EQ(outcomeLine(errorOutcome(job_messages::noAnswer(), -1)), QString::fromUtf8("Нет ответа от Станции. (-1)"));
    EXPECT_EQ(exitStatusOf(errorOutcome(job_messages::noAnswer(), 42).outcome), 6);
    // A failed port is its own outcome before the first write, never "no answer".
    const RunResult lost = errorOutcome(job_messages::portLost(), job_messages::kCodePortLost);
    EXPECT_EQ(lost.outcome, RunOutcome::PortLost);
    EXPECT_EQ(exitStatusOf(lost.outcome), 4);
    EXPECT_TRUE(outcomeLine(lost).startsWith(QStringLiteral("the serial port failed during the run"))) << outcomeLine(lost).toStdString();
    EXPECT_EQ(failureOutcome(job_messages::kCodePortLost, true, VerifyResult::NotRun), RunOutcome::PartlyWritten);
    EXPECT_EQ(exitStatusOf(RunResult().outcome), 6) << "a run that reported nothing is a failure";
}

// Each outcome keeps its ledger name, its exit status and its place in the
// fleet's result line; a name no outcome has is none of them.
TEST(Outcome, EveryOutcomeRoundTripsByNameAndKeepsItsExitStatus) {
    const struct {
        RunOutcome outcome;
        const char* name;
        int exitStatus;
    } cases[] = {
        {RunOutcome::Moved, "moved", 0},          {RunOutcome::AlreadyMoved, "already-moved", 1},
        {RunOutcome::Restored, "restored", 0},    {RunOutcome::OtherSystem, "other-system", 3},
        {RunOutcome::Unsupported, "unsupported", 3}, {RunOutcome::NoPort, "no-port", 4},
        {RunOutcome::NoAnswer, "no-answer", 5},   {RunOutcome::PortLost, "port-lost", 4},
        {RunOutcome::PartlyWritten, "partly-written", 5},
        {RunOutcome::VerifyFailed, "verify-failed", 7}, {RunOutcome::Interrupted, "interrupted", 130},
        {RunOutcome::Failed, "failed", 6},
    };
    ASSERT_EQ(std::size(cases), std::size(kRunOutcomes)) << "every outcome is here";
    for (const auto& c : cases) {
        EXPECT_EQ(outcomeName(c.outcome), QLatin1String(c.name));
        EXPECT_EQ(outcomeNamed(QByteArray(c.name)), c.outcome) << c.name;
        EXPECT_EQ(exitStatusOf(c.outcome), c.exitStatus) << c.name;
        const child_report::Line line = child_report::parse(child_report::resultLine(5, c.outcome, {}, {}));
        EXPECT_EQ(line.kind, child_report::Line::Kind::Result) << c.name;
        EXPECT_EQ(line.outcome, c.outcome) << c.name;
    }
    for (const char* name : {"", "Moved", "no-station", "moved "}) {
        EXPECT_EQ(outcomeNamed(QByteArray(name)), std::nullopt) << name;
        EXPECT_EQ(child_report::parse(QByteArray("@rechannel result 5\t") + name + "\t\t").kind,
                  child_report::Line::Kind::Text)
            << name;
    }
}

TEST(FaultOption, AcceptsEveryKindAtAnExchangeOrAlways) {
    sim::FaultScript script;
    const Result<QString> delay = applyFaultOption(QStringLiteral("delay=250@3"), script);
    ASSERT_TRUE(delay) << delay.why().toStdString();
    EXPECT_EQ(script.faultFor(3).kind, sim::Fault::Kind::Delay);
    EXPECT_EQ(script.faultFor(3).delayMs, 250);
    EXPECT_EQ(script.faultFor(2).kind, sim::Fault::Kind::None);

    ASSERT_TRUE(applyFaultOption(QStringLiteral("pieces=4,30@1"), script));
    EXPECT_EQ(script.faultFor(1).pieceBytes, 4);
    EXPECT_EQ(script.faultFor(1).gapMs, 30);
    ASSERT_TRUE(applyFaultOption(QStringLiteral("status=7@0"), script));
    EXPECT_EQ(script.faultFor(0).status, 7);

    ASSERT_TRUE(applyFaultOption(QStringLiteral("ignorewrite"), script));
    EXPECT_EQ(script.faultFor(9).kind, sim::Fault::Kind::IgnoreWrite) << "no @ means every exchange";

    sim::FaultScript powerLost;
    ASSERT_TRUE(applyFaultOption(QStringLiteral("powerlost@5"), powerLost));
    EXPECT_EQ(powerLost.faultFor(4).kind, sim::Fault::Kind::None);
    EXPECT_EQ(powerLost.faultFor(5).kind, sim::Fault::Kind::NoReply);
    EXPECT_EQ(powerLost.faultFor(50).kind, sim::Fault::Kind::NoReply);
}

TEST(FaultOption, RefusesMalformedSpecsWithAMessage) {
    for (const char* bad : {"", "melt", "delay", "delay=x", "delay=-5", "status=0", "pieces=3", "echo=2",
                            "noreply@x", "powerlost", "powerlost@*", "garbage=999"}) {
        sim::FaultScript script;
        const Result<QString> added = applyFaultOption(QString::fromLatin1(bad), script);
        EXPECT_FALSE(added) << bad;
        EXPECT_FALSE(added.why().isEmpty()) << bad;
    }
}

TEST(WireTrace, FormatsHexAndTimestampedLines) {
    const std::uint8_t frame[] = {0xDA, 0x03, 0x05, 0xC0, 0x00, 0x10, 0x44, 0xE7};
    EXPECT_EQ(WireTrace::hex(frame, 8), QStringLiteral("DA 03 05 C0 00 10 44 E7"));
    EXPECT_EQ(WireTrace::hex(frame, 0), QString());
    EXPECT_EQ(WireTrace::line(12.5, '>', QStringLiteral("DA")), QStringLiteral("    12.500 ms > DA"));
}

}  // namespace

// The line that tells an operator why a port did not open, and what to do.
TEST(PortOpenDiagnosis, NamesTheCauseOfEachKindOfPath) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString file = dir.filePath(QStringLiteral("notes.txt"));
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();

    EXPECT_TRUE(explainPortOpenFailure(L"").startsWith(QStringLiteral("no port given")));
    EXPECT_TRUE(explainPortOpenFailure(L"/dev/ttyNOSUCH9").startsWith(QStringLiteral("no such device")));
    // A path through a plain file is as absent as a missing one.
    EXPECT_TRUE(explainPortOpenFailure((file + QStringLiteral("/ttyUSB0")).toStdWString())
                    .startsWith(QStringLiteral("no such device")));
    // Something that opens but is no terminal.
    EXPECT_TRUE(explainPortOpenFailure(L"/dev/null").startsWith(QStringLiteral("not a serial port")));
    EXPECT_TRUE(explainPortOpenFailure(file.toStdWString()).startsWith(QStringLiteral("not a serial port")));

    // A free terminal: the failure was passing.
    int master = -1, slave = -1;
    ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    char name[64] = {};
    ASSERT_EQ(::ttyname_r(slave, name, sizeof name), 0);
    const QString free = explainPortOpenFailure(QString::fromLocal8Bit(name).toStdWString());
    // ... and one another program holds.
    ASSERT_EQ(::flock(slave, LOCK_EX | LOCK_NB), 0);
    const QString held = explainPortOpenFailure(QString::fromLocal8Bit(name).toStdWString());
    ::close(slave);
    ::close(master);
    EXPECT_TRUE(free.contains(QStringLiteral("opens now"))) << free.toStdString();
    EXPECT_TRUE(held.startsWith(QStringLiteral("busy"))) << held.toStdString();
}
