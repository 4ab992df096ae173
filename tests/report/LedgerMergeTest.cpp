// Merging the ledgers of several laptops: each row is a set of ledger files
// and what the report must make of them.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTimeZone>
#include <functional>
#include <tuple>
#include <gtest/gtest.h>
#include <vector>

#include "Ledger.h"
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
    {"of two runs with one time the one read later wins, in one file or across two",
     {QByteArray(kHeader) + "\n" + run("08T10:00:00", "291", "moved") + "\n" + run("08T10:00:00", "291", "no-answer") + "\n",
      QByteArray(kHeader) + "\n" + run("08T10:00:00", "292", "no-answer", "5e7a", "boris") + "\n",
      QByteArray(kHeader) + "\n" + run("08T10:00:00", "292", "moved", "5e7a", "carl") + "\n"},
     {{291, "5e7a", StationState::NeedsAttention, "no-answer", "anna"}, {292, "5e7a", StationState::Moved, "moved", "carl"}},
     4, 0, 0, true},
    {"a ledger a spreadsheet saved with a byte-order mark",
     {"\xEF\xBB\xBF" + QByteArray(kHeader) + "\r\n" + run("08T10:00:00", "291", "moved") + "\r\n"},
     {{291, "5e7a", StationState::Moved, "moved", "anna"}},
     1, 0, 0, true},
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

namespace {

// A ledger of `entries` written as a run writes its lines.
QString writeLedger(const QString& path, const std::vector<LedgerEntry>& entries) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return QString();
    file.write(QByteArray(kHeader) + "\n");
    for (const LedgerEntry& e : entries) file.write(ledger::formatLine(e) + "\n");
    return path;
}

LedgerEntry ledgerRun(const QString& text, RunOutcome outcome = RunOutcome::PartlyWritten) {
    LedgerEntry e;
    e.time = QDateTime(QDate(2026, 12, 8), QTime(10, 0), QTimeZone(3600));
    e.port = e.backup = e.setup = e.host = text;
    e.address = 291;
    e.outcome = outcomeName(outcome);
    return e;
}

QByteArray fileBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

// Every text field of the CSV that a spreadsheet would run as a formula is
// quoted with a leading apostrophe; the same text a character further on is
// left as it is; a comma or a quote is quoted as RFC 4180 has it.
TEST(ReportFilesTest, ACsvFieldThatWouldRunAsAFormulaStaysText) {
    const struct {
        const char* text;
        const char* field;   // how each of setup, host, port and backup must read in the CSV
    } cases[] = {
        {"=SUM(A1)", "\"'=SUM(A1)\""}, {"+7 999", "\"'+7 999\""},  {"-1+2", "\"'-1+2\""},
        {"@boris", "\"'@boris\""},     {"\tcmd", "\"'\tcmd\""},     {"\rcmd", "\"'\rcmd\""},
        {"x=-@+", "x=-@+"},            {"USB, hub 2", "\"USB, hub 2\""}, {"hub \"2\"", "\"hub \"\"2\"\"\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        QTemporaryDir dir;
        ReportRequest request;
        request.inputs << writeLedger(dir.filePath(QStringLiteral("ledger.csv")), {ledgerRun(QString::fromUtf8(c.text))});
        request.csvFile = dir.filePath(QStringLiteral("stations.csv"));
        const ReportResult result = makeReport(request);
        ASSERT_TRUE(result.filesWritten && result.problems.isEmpty()) << result.problems.join(QLatin1Char('\n')).toStdString();
        const QByteArray f(c.field);
        // The network's columns follow; a station with no place read leaves them empty.
        const QList<QByteArray> lines = fileBytes(request.csvFile).split('\n');
        ASSERT_EQ(lines.size(), 3);
        EXPECT_TRUE(lines[0].startsWith("address,setup,state,outcome,time,host,port,backup,")) << lines[0].constData();
        const QByteArray row = "291," + f + ",needs-attention,partly-written,2026-12-08T10:00:00+01:00," + f + "," + f + "," + f + ",";
        EXPECT_TRUE(lines[1].startsWith(row)) << lines[1].constData();
    }
}

// Whatever a ledger says reaches the page as text: each column taken from
// one (and the ledger's file name) with markup in it.
TEST(ReportFilesTest, EveryColumnTakenFromALedgerIsEscapedOnThePage) {
    const struct {
        QString text;
        QByteArray escaped;
        QByteArray raw;   // never on the page as it stands
    } texts[] = {
        {QStringLiteral("<b class='x'>&\""), "&lt;b class=&#39;x&#39;&gt;&amp;&quot;", "<b class"},
        {QStringLiteral("R&D &lt;b&gt;"), "R&amp;D &amp;lt;b&amp;gt;", "R&D"},   // an entity: shown, not read
    };
    const std::function<void(LedgerEntry&, const QString&)> columns[] = {
        [](LedgerEntry& e, const QString& t) { e.port = t; },  [](LedgerEntry& e, const QString& t) { e.backup = t; },
        [](LedgerEntry& e, const QString& t) { e.setup = t; }, [](LedgerEntry& e, const QString& t) { e.note = t; },
        [](LedgerEntry& e, const QString& t) { e.host = t; },  nullptr,   // the ledger's file name
    };
    for (const auto& t : texts)
        for (const auto& put : columns) {
            SCOPED_TRACE(t.text.toStdString() + " in column " + std::to_string(&put - columns));
            QTemporaryDir dir;
            LedgerEntry e = ledgerRun(QStringLiteral("plain"));
            if (put) put(e, t.text);
            ReportRequest request;
            const QString name = put ? QStringLiteral("ledger.csv") : t.text + QStringLiteral(".csv");
            request.inputs << writeLedger(dir.filePath(name), {e});
            request.htmlFile = dir.filePath(QStringLiteral("report.html"));
            const ReportResult result = makeReport(request);
            ASSERT_TRUE(result.filesWritten && result.problems.isEmpty()) << result.problems.join(QLatin1Char('\n')).toStdString();
            const QByteArray page = fileBytes(request.htmlFile);
            EXPECT_FALSE(page.contains(t.raw)) << "the ledger's text read as markup";
            EXPECT_TRUE(page.contains(t.escaped)) << "the ledger's text is not on the page";
        }
}

// Runs, moves and failures per computer, the lines of ledgers from before
// the host column under an unknown computer, last; in the text summary
// too, where a ledger's control characters (a terminal's escape sequences)
// show as '?'.
TEST(ReportFilesTest, RunsAreCountedPerComputerTheUnknownLast) {
    QTemporaryDir dir;
    const QString ledger = dir.filePath(QStringLiteral("ledger.csv"));
    QFile file(ledger);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(kHeader12) + "\n2026-12-07T10:00:00+01:00,COM3,300,158,500,moved,0,,yes,1.00,abcd,\n" +
               run("08T10:00:00", "291", "moved", "5e7a", "zed\x1b[2J") + "\n" + run("08T10:01:00", "292", "no-answer") + "\n" +
               run("08T10:02:00", "293", "restored") + "\n" + run("08T10:03:00", "294", "already-moved") + "\n");
    file.close();
    ReportRequest request;
    request.inputs << ledger;
    const ReportResult result = makeReport(request);
    std::vector<std::tuple<QString, int, int, int>> hosts;
    for (const ReportHost& h : result.report.hosts) hosts.emplace_back(h.host, h.runs, h.moves, h.failures);
    const std::vector<std::tuple<QString, int, int, int>> expected = {
        {QStringLiteral("anna"), 3, 0, 1}, {QStringLiteral("zed\x1b[2J"), 1, 1, 0}, {QString(), 1, 1, 0}};
    EXPECT_EQ(hosts, expected);
    const QString text = reportText(result.report);
    EXPECT_TRUE(text.contains(QStringLiteral("host zed?[2J: 1 runs"))) << text.toStdString();
    EXPECT_FALSE(text.contains(QLatin1Char('\x1b')));
}

#ifdef RECHANNEL_CLI_PATH
// --since DAY takes runs from that day's first instant, --until DAY up to
// its last, in the computer's time zone; bounds given the wrong way round
// are refused rather than answered with an empty report.
TEST(ReportFilesTest, SinceAndUntilTakeWholeDays) {
    QTemporaryDir dir;
    const auto at = [](int day, int hour, int minute, int second) {
        LedgerEntry e = ledgerRun(QStringLiteral("anna"), RunOutcome::Moved);
        e.time = QDateTime(QDate(2026, 12, day), QTime(hour, minute, second), QTimeZone(3 * 3600));
        e.address = day * 100 + hour;
        return e;
    };
    const QString ledger = writeLedger(dir.filePath(QStringLiteral("ledger.csv")),
                                       {at(7, 23, 59, 59), at(8, 0, 0, 0), at(9, 23, 59, 59), at(10, 0, 0, 0)});
    const struct {
        const char* bounds;
        int status;
        const char* runs;   // as the summary counts them
    } cases[] = {
        {"--since 2026-12-08", 0, "runs: 3 "},
        {"--until 2026-12-09", 0, "runs: 3 "},
        {"--since 2026-12-08 --until 2026-12-09", 0, "runs: 2 "},
        {"--since 2026-12-08 --until 2026-12-08", 0, "runs: 1 "},
        {"--since 2026-12-10 --until 2026-12-08", 2, nullptr},   // the wrong way round
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bounds);
        QProcess cli;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("TZ"), QStringLiteral("Europe/Moscow"));   // +03:00, as the ledger
        cli.setProcessEnvironment(environment);
        cli.start(QStringLiteral(RECHANNEL_CLI_PATH),
                  QStringList{QStringLiteral("report"), ledger} + QString::fromLatin1(c.bounds).split(QLatin1Char(' ')));
        ASSERT_TRUE(cli.waitForFinished(60000));
        const QByteArray out = cli.readAllStandardOutput(), err = cli.readAllStandardError();
        EXPECT_EQ(cli.exitCode(), c.status) << err.constData();
        if (c.runs) EXPECT_TRUE(out.contains(c.runs)) << out.constData();
        else EXPECT_TRUE(err.contains("--since")) << err.constData();
    }
}
#endif
