// The report lines a programming child writes for its fleet runner, read
// back into types: every line the child can write reads as it was meant,
// and anything else (a line cut or bent on its way, a line of text that
// happens to start like a report line) stays text for people, never a
// phase, address or outcome it does not say.
#include <gtest/gtest.h>

#include <QDateTime>
#include <QTimeZone>
#include <optional>

#include "ChildReport.h"

namespace {

using Kind = child_report::Line::Kind;

struct Want {
    Kind kind = Kind::Text;
    std::optional<JobPhase> phase;
    std::optional<int> address;
    std::optional<RunOutcome> outcome;
    QString text;   // Text and Outcome: the line as people read it
};

Want text(const QByteArray& line) { return {Kind::Text, {}, {}, {}, QString::fromUtf8(line)}; }
Want phase(JobPhase phase) { return {Kind::Phase, phase, {}, {}, {}}; }
Want address(int address) { return {Kind::Address, {}, address, {}, {}}; }
Want result(std::optional<int> address, RunOutcome outcome) { return {Kind::Result, {}, address, outcome, {}}; }
Want said(const QString& line) { return {Kind::Outcome, {}, {}, {}, line}; }
Want ledgerLine() { return {Kind::Ledger, {}, {}, {}, {}}; }

LedgerEntry ledgerRun() {
    LedgerEntry e;
    e.time = QDateTime(QDate(2026, 12, 8), QTime(10, 15, 2), QTimeZone(3600));
    e.port = QStringLiteral("/dev/ttyUSB0");
    e.address = 291;
    e.outcome = QStringLiteral("moved");
    e.backup = QStringLiteral("/home/u/QuelvintLog/backups/291.bin");
    e.verified = QStringLiteral("yes");
    e.seconds = 4.5;
    return e;
}

TEST(ChildReport, EveryLineReadsAsItWasMeantAndAnythingElseStaysText) {
    const QByteArray ledger = child_report::ledgerLine(ledgerRun());
    ASSERT_FALSE(ledger.isEmpty());
    const struct {
        QByteArray line;
        Want want;
    } cases[] = {
        // What the child writes.
        {"@rechannel phase opening\n", phase(JobPhase::Opening)},
        {"@rechannel phase reading\n", phase(JobPhase::Reading)},
        {"@rechannel phase writing\n", phase(JobPhase::Writing)},
        {"@rechannel phase verifying\n", phase(JobPhase::Verifying)},
        {"@rechannel phase restarting\n", phase(JobPhase::Restarting)},
        {"@rechannel phase restarting\r\n", phase(JobPhase::Restarting)},   // a text stream's line end
        {"@rechannel phase writing", phase(JobPhase::Writing)},             // the last, without its end
        {"@rechannel address 291\n", address(291)},
        {"@rechannel address 0\r\n", address(0)},
        {"@rechannel address 65535\n", address(65535)},
        {"@rechannel result 291\tmoved\t/b/291.bin\tyes\n", result(291, RunOutcome::Moved)},
        {"@rechannel result 291\tpartly-written\t\t\r\n", result(291, RunOutcome::PartlyWritten)},
        {"@rechannel result \tno-port\t\t\n", result(std::nullopt, RunOutcome::NoPort)},
        {"@rechannel outcome Станция переведена на новую частоту!\n",
         said(QStringLiteral("Станция переведена на новую частоту!"))},
        {ledger + '\n', ledgerLine()},
        // Bent or cut lines: text.
        {"@rechannel phase Writing\n", text("@rechannel phase Writing")},
        {"@rechannel phase writing \n", text("@rechannel phase writing ")},
        {"@rechannel phase writ\n", text("@rechannel phase writ")},
        {"@rechannel phase \n", text("@rechannel phase ")},
        {"@rechannel phase\n", text("@rechannel phase")},
        {"@rechannel address 65536\n", text("@rechannel address 65536")},
        {"@rechannel address -1\n", text("@rechannel address -1")},
        {"@rechannel address 0x123\n", text("@rechannel address 0x123")},
        {"@rechannel address \n", text("@rechannel address ")},
        {QByteArray("@rechannel address 29\0" "1\n", 24), text(QByteArray("@rechannel address 29\0" "1", 23))},
        {"@rechannel result 291\tMOVED\t\t\n", text("@rechannel result 291\tMOVED\t\t")},
        {"@rechannel result 291\tno-station\t\t\n", text("@rechannel result 291\tno-station\t\t")},
        {"@rechannel result 291\tmoved\n", text("@rechannel result 291\tmoved")},
        {"@rechannel result 291\tmoved\t\t\tmore\n", text("@rechannel result 291\tmoved\t\t\tmore")},
        // An address that is none would undo the one the run reported.
        {"@rechannel result x\tmoved\t\t\n", text("@rechannel result x\tmoved\t\t")},
        {"@rechannel result 70000\tmoved\t\t\n", text("@rechannel result 70000\tmoved\t\t")},
        {"@rechannel ledger 2026-12-08,/dev/ttyUSB0\n", text("@rechannel ledger 2026-12-08,/dev/ttyUSB0")},
        {ledger.left(ledger.size() / 2) + '\n', text(ledger.left(ledger.size() / 2))},
        {"@rechannel\n", text("@rechannel")},
        {"@rechannelphase writing\n", text("@rechannelphase writing")},
        {" @rechannel phase writing\n", text(" @rechannel phase writing")},
        {"@RECHANNEL phase writing\n", text("@RECHANNEL phase writing")},
        {"@rechannel restart now\n", text("@rechannel restart now")},
        {"Нет ответа от Станции. (-1)\n", text("Нет ответа от Станции. (-1)")},
        {"\n", text("")},
        {"", text("")},
    };
    for (const auto& c : cases) {
        const child_report::Line got = child_report::parse(c.line);
        const std::string what = c.line.toStdString();
        EXPECT_EQ(got.kind, c.want.kind) << what;
        if (c.want.phase) {
            EXPECT_EQ(got.phase, *c.want.phase) << what;
        }
        if (c.want.kind == Kind::Address || c.want.kind == Kind::Result) {
            EXPECT_EQ(got.address, c.want.address) << what;
        }
        if (c.want.outcome) {
            EXPECT_EQ(got.outcome, *c.want.outcome) << what;
        }
        if (c.want.kind == Kind::Text || c.want.kind == Kind::Outcome) {
            EXPECT_EQ(got.text.toStdString(), c.want.text.toStdString()) << what;
        }
    }
}

// What a run writes comes back field for field, whatever its text holds.
TEST(ChildReport, WrittenLinesComeBackFieldForField) {
    for (const JobPhase phase : {JobPhase::Opening, JobPhase::Reading, JobPhase::Writing, JobPhase::Verifying,
                                 JobPhase::Restarting, JobPhase::Done}) {
        const child_report::Line got = child_report::parse(child_report::phaseLine(phase));
        EXPECT_EQ(got.kind, Kind::Phase) << child_report::phaseName(phase).toStdString();
        EXPECT_EQ(got.phase, phase) << child_report::phaseName(phase).toStdString();
    }
    for (const RunOutcomeRow& row : kRunOutcomes) {
        const child_report::Line got = child_report::parse(
            child_report::resultLine(812, row.outcome, QStringLiteral("C:\\Логи\\b\t1.bin"), QStringLiteral("no")));
        EXPECT_EQ(got.kind, Kind::Result) << row.name;
        EXPECT_EQ(got.outcome, row.outcome) << row.name;
        EXPECT_EQ(got.address, 812) << row.name;
        EXPECT_EQ(got.backup, QStringLiteral("C:\\Логи\\b 1.bin")) << "a tab cannot cut the fields";
        EXPECT_EQ(got.verified, QStringLiteral("no"));
    }
    LedgerEntry run = ledgerRun();
    run.note = QStringLiteral("заметка, с \"кавычками\"");
    const child_report::Line got = child_report::parse(child_report::ledgerLine(run));
    ASSERT_EQ(got.kind, Kind::Ledger);
    EXPECT_EQ(ledger::formatLine(got.entry), ledger::formatLine(run));
    run.note = QStringLiteral("two\nlines");
    EXPECT_TRUE(child_report::ledgerLine(run).isEmpty()) << "a line that would not stay one is not written";
}

}  // namespace
