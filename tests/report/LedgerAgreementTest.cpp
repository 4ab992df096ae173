// `rechannel-cli ledger` (the ledger summary) and the migration report read
// the same lines the same way: each station's last outcome and where it
// stands, the runs counted per outcome, the runs that read no station.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimeZone>
#include <gtest/gtest.h>
#include <algorithm>
#include <map>
#include <vector>

#include "Ledger.h"
#include "LedgerSummary.h"
#include "MigrationReport.h"

namespace {

const QDateTime kDay(QDate(2026, 12, 8), QTime(9, 0, 0), QTimeZone(3600));

LedgerEntry run(std::optional<int> address, const char* setup, const char* outcome, int minutes,
                const char* port = "/dev/ttyUSB0") {
    LedgerEntry e;
    e.time = kDay.addSecs(60 * minutes);
    e.port = QLatin1String(port);
    e.address = address;
    e.outcome = QLatin1String(outcome);
    e.setup = QLatin1String(setup);
    e.host = QStringLiteral("anna");
    e.seconds = 1 + minutes;   // no two lines alike: a line met twice counts once in the report
    return e;
}

using Stations = std::map<std::pair<int, QString>, std::pair<QString, StationState>>;

std::string said(const Stations& stations) {
    std::string out;
    for (const auto& [key, last] : stations)
        out += std::to_string(key.first) + "/" + key.second.toStdString() + " " + last.first.toStdString() + " " +
               stateName(last.second) + "; ";
    return out;
}

TEST(LedgerAgreement, TheSummaryAndTheReportReadTheSameLinesAlike) {
    const struct {
        const char* what;
        std::vector<LedgerEntry> lines;
        int sinceMinutes;   // -1: every line
        const char* stations;   // what both must say
    } cases[] = {
        {"a line without setup joins the one station of its address",
         {run(291, "aaaa", "verify-failed", 1), run(291, "", "moved", 2), run(292, "", "no-answer", 3),
          run(292, "bbbb", "moved", 4)},
         -1, "291/aaaa moved moved; 292/bbbb moved moved; "},
        {"namesakes stay apart; a line that cannot tell them is a station of its own",
         {run(300, "aaaa", "moved", 1), run(300, "bbbb", "other-system", 2), run(300, "", "no-answer", 3)}, -1,
         "300/ no-answer needs-attention; 300/aaaa moved moved; 300/bbbb other-system needs-attention; "},
        {"of two lines with one time the later wins, with or without the setup",
         {run(310, "x", "no-answer", 5), run(310, "x", "moved", 5), run(311, "", "moved", 5), run(311, "y", "no-answer", 5),
          run(312, "z", "moved", 5), run(312, "", "port-lost", 5)},
         -1, "310/x moved moved; 311/y no-answer needs-attention; 312/z port-lost needs-attention; "},
        {"a station restored after its move; the earlier day left out",
         {run(320, "r", "moved", 1), run(320, "r", "restored", 90)}, 60, "320/r restored not-moved; "},
        {"a setup learnt from a line left out still places a later line",
         {run(330, "s", "moved", 1), run(330, "", "partly-written", 90)}, 60, "330/s partly-written needs-attention; "},
        {"runs that read no station are counted, not stations",
         {run(std::nullopt, "", "no-port", 1, "/dev/ttyS0"), run(std::nullopt, "", "no-answer", 2, "/dev/ttyS0"),
          run(std::nullopt, "", "no-answer", 3, "/dev/ttyUSB1"), run(340, "t", "interrupted", 4)},
         -1, "340/t interrupted needs-attention; "},
    };
    for (const auto& c : cases) {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("ledger.csv"));
        for (const LedgerEntry& line : c.lines) ASSERT_TRUE(ledger::appendTo(file, line)) << c.what;
        const QDateTime since = c.sinceMinutes < 0 ? QDateTime() : kDay.addSecs(60 * c.sinceMinutes);

        const LedgerSummary summary = summariseLedger(ledger::read(file), since);
        ReportRequest request;
        request.inputs = {file};
        request.since = since;
        const ReportResult made = makeReport(request);
        ASSERT_TRUE(made.allInputsRead) << c.what << ": " << made.problems.join(QLatin1Char('\n')).toStdString();
        const MigrationReport& report = made.report;

        Stations bySummary, byReport;
        for (const LedgerSummary::Station& s : summary.stations)
            bySummary[{s.address, s.setup}] = {outcomeName(s.outcome), stateAfter(s.outcome)};
        for (const ReportStation& s : report.stations)
            byReport[{s.address, s.setup}] = {outcomeName(s.last.outcome), s.state()};
        EXPECT_EQ(said(bySummary), c.stations) << c.what << " (the summary)";
        EXPECT_EQ(said(byReport), c.stations) << c.what << " (the report)";

        for (const RunOutcomeRow& row : kRunOutcomes) {
            int reported = 0;
            for (const ReportDay& day : report.days) reported += day.runs[std::size_t(outcomeIndex(row.outcome))];
            const auto counted = std::find_if(summary.counts.begin(), summary.counts.end(),
                                              [&row](const auto& count) { return count.first == QLatin1String(row.name); });
            ASSERT_NE(counted, summary.counts.end()) << row.name;
            EXPECT_EQ(counted->second, reported) << c.what << ": " << row.name;
        }
        int silent = 0;
        for (const LedgerSummary::SilentPort& port : summary.silentPorts) silent += port.runs;
        EXPECT_EQ(silent, report.runsWithoutStation) << c.what;
    }
}

}  // namespace
