// Merging the ledgers of several laptops: each row is a set of ledger files
// and what the report must make of them.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <vector>

#include "MigrationReport.h"

namespace {

const char* const kHeader = "time,port,address,system_before,channel_before,outcome,code,backup,verified,seconds,setup,note,host";
const char* const kHeader12 = "time,port,address,system_before,channel_before,outcome,code,backup,verified,seconds,setup,note";
const char* const kHeader10 = "time,port,address,system_before,channel_before,outcome,code,backup,verified,seconds";

QByteArray run(const char* time, const char* address, const char* outcome, const char* setup = "5e7a", const char* host = "anna") {
    return QByteArray("2026-12-") + time + "+01:00,/dev/ttyUSB0," + address + ",158,500," + outcome + ",0,/b/" + address +
           ".bin,yes,2.00," + setup + ",," + host;
}

struct Expected {
    int address;
    const char* setup;
    StationState state;
    const char* outcome;
    const char* host;
};

struct Case {
    const char* name;
    std::vector<QByteArray> files;   // contents, written as 1.csv, 2.csv, ...
    std::vector<Expected> stations;
    int runs;
    int duplicates;
    int problems;
    bool allRead;
};

const std::vector<Case> kCases = {
    {"a ledger copied twice counts once",
     {QByteArray(kHeader) + "\n" + run("08T10:00:00", "291", "moved") + "\n" + run("08T10:05:00", "292", "no-answer") + "\n",
      QByteArray(kHeader) + "\n" + run("08T10:00:00", "291", "moved") + "\n" + run("08T10:05:00", "292", "no-answer") + "\n"},
     {{292, "5e7a", StationState::NeedsAttention, "no-answer", "anna"}, {291, "5e7a", StationState::Moved, "moved", "anna"}},
     2, 2, 0, true},
    {"a backup (an older copy) of a ledger adds nothing; the later run wins whatever the file order",
     {QByteArray(kHeader) + "\n" + run("08T11:00:00", "291", "partly-written", "5e7a", "boris") + "\n",
      QByteArray(kHeader) + "\n" + run("08T09:00:00", "291", "moved") + "\n" + run("08T11:00:00", "291", "partly-written", "5e7a", "boris") + "\n"},
     {{291, "5e7a", StationState::NeedsAttention, "partly-written", "boris"}},
     2, 1, 0, true},
    {"namesakes: one address, two setups, two stations; a line without setup stands apart",
     {QByteArray(kHeader) + "\n" + run("08T10:00:00", "291", "moved", "aaaa") + "\n" + run("08T10:01:00", "291", "other-system", "bbbb") +
      "\n" + run("08T10:02:00", "291", "no-answer", "") + "\n"},
     {{291, "", StationState::NeedsAttention, "no-answer", "anna"},
      {291, "bbbb", StationState::NeedsAttention, "other-system", "anna"},
      {291, "aaaa", StationState::Moved, "moved", "anna"}},
     3, 0, 0, true},
    {"a line without setup belongs to the one station of its address",
     {QByteArray(kHeader) + "\n" + run("08T10:00:00", "291", "verify-failed", "aaaa") + "\n" + run("08T10:02:00", "291", "moved", "") + "\n"},
     {{291, "aaaa", StationState::Moved, "moved", "anna"}},
     2, 0, 0, true},
    {"a station restored after its move is not moved",
     {QByteArray(kHeader) + "\n" + run("08T10:00:00", "291", "moved") + "\n",
      QByteArray(kHeader) + "\n" + run("09T10:00:00", "291", "restored", "5e7a", "boris") + "\n"},
     {{291, "5e7a", StationState::NotMoved, "restored", "boris"}},
     2, 0, 0, true},
    {"older formats read as they are, their host unknown",
     {QByteArray(kHeader10) + "\n2026-12-07T10:00:00+01:00,COM3,300,158,500,moved,0,,yes,1.00\n",
      QByteArray(kHeader12) + "\n2026-12-07T11:00:00+01:00,COM3,301,158,500,unsupported,0,,,1.00,abcd,\n" + run("08T10:00:00", "302", "moved") + "\n"},
     {{301, "abcd", StationState::NeedsAttention, "unsupported", ""}, {300, "", StationState::Moved, "moved", ""},
      {302, "5e7a", StationState::Moved, "moved", "anna"}},
     3, 0, 0, true},
    {"a malformed line is named and skipped, the rest of its file counts",
     {QByteArray(kHeader) + "\n" + run("08T10:00:00", "291", "moved") + "\n2026-12-08T10:01:00+01:00,/dev/tty\n" +
      run("08T10:02:00", "292", "moved") + "\n" + QByteArray(100000, 'x') + "\n"},
     {{291, "5e7a", StationState::Moved, "moved", "anna"}, {292, "5e7a", StationState::Moved, "moved", "anna"}},
     2, 0, 2, true},
    {"a file that is no ledger is named and skipped whole",
     {QByteArray("name,phone\n") + run("08T10:00:00", "291", "moved") + "\n", QByteArray(kHeader) + "\n" + run("08T10:00:00", "292", "moved") + "\n"},
     {{292, "5e7a", StationState::Moved, "moved", "anna"}},
     1, 0, 1, false},
};

TEST(LedgerMergeTest, MergesLedgersByTheRules) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        ReportRequest request;
        for (size_t i = 0; i < c.files.size(); ++i) {
            QFile file(dir.filePath(QStringLiteral("%1.csv").arg(i + 1)));
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(c.files[i]);
            request.inputs << file.fileName();
        }
        const ReportResult result = makeReport(request);
        EXPECT_EQ(result.problems.size(), c.problems) << result.problems.join(QLatin1Char('\n')).toStdString();
        EXPECT_EQ(result.allInputsRead, c.allRead);
        EXPECT_EQ(result.report.runs, c.runs);
        EXPECT_EQ(result.report.duplicates, c.duplicates);
        ASSERT_EQ(result.report.stations.size(), c.stations.size());
        for (size_t i = 0; i < c.stations.size(); ++i) {
            const ReportStation& got = result.report.stations[i];
            const Expected& want = c.stations[i];
            EXPECT_EQ(got.address, want.address) << i;
            EXPECT_EQ(got.setup, QLatin1String(want.setup)) << i;
            EXPECT_EQ(got.state(), want.state) << i;
            EXPECT_EQ(outcomeName(got.last.outcome), QLatin1String(want.outcome)) << i;
            EXPECT_EQ(got.last.host, QLatin1String(want.host)) << i;
        }
    }
}

// The line of stations moved so far: a station counts from its first move
// until a later run leaves it elsewhere.
TEST(LedgerMergeTest, CountsStationsMovedSoFarDayByDay) {
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("ledger.csv")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(kHeader) + "\n" + run("07T10:00:00", "291", "moved") + "\n" + run("07T11:00:00", "292", "no-answer") + "\n" +
               run("08T10:00:00", "292", "moved") + "\n" + run("09T10:00:00", "291", "restored") + "\n" +
               run("10T10:00:00", "293", "already-moved") + "\n");
    file.close();
    ReportRequest request;
    request.inputs << dir.path();   // the folder: every ledger in it
    request.until = QDateTime(QDate(2026, 12, 10), QTime(0, 0));
    const ReportResult result = makeReport(request);
    std::vector<int> moved;
    for (const ReportDay& day : result.report.days) moved.push_back(day.movedSoFar);
    EXPECT_EQ(moved, (std::vector<int>{1, 2, 1})) << "the run of the 10th is after --until";
    EXPECT_EQ(result.report.runs, 4);
}

// A report is written whole or not at all, and never over a ledger it read.
TEST(LedgerMergeTest, AReportFileIsReplacedWholeAndNeverOverALedger) {
    QTemporaryDir dir;
    const QString ledgerPath = dir.filePath(QStringLiteral("ledger.csv"));
    const QByteArray ledger = QByteArray(kHeader) + "\n" + run("08T10:00:00", "291", "moved") + "\n";
    QFile file(ledgerPath);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(ledger);
    file.close();
    ReportRequest request;
    request.inputs << ledgerPath;
    request.csvFile = ledgerPath;
    request.htmlFile = dir.filePath(QStringLiteral("no/such/folder/report.html"));
    const ReportResult result = makeReport(request);
    EXPECT_FALSE(result.filesWritten);
    EXPECT_EQ(result.problems.size(), 2) << result.problems.join(QLatin1Char('\n')).toStdString();
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), ledger);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("ledger.csv")});

    // The page and the CSV named to one file: the page stays, the CSV is refused.
    request.htmlFile = dir.filePath(QStringLiteral("report"));
    request.csvFile = dir.filePath(QStringLiteral("./report"));
    const ReportResult same = makeReport(request);
    EXPECT_FALSE(same.filesWritten);
    EXPECT_EQ(same.problems.size(), 1) << same.problems.join(QLatin1Char('\n')).toStdString();
    QFile page(request.htmlFile);
    ASSERT_TRUE(page.open(QIODevice::ReadOnly));
    EXPECT_TRUE(page.readAll().contains("<html")) << "the CSV replaced the page";
}

}  // namespace
