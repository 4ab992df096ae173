// The ledger file: its line format, appends from many processes at once,
// and the summary the ledger command prints.
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTimeZone>
#include <map>
#include <tuple>

#include "Ledger.h"
#include "LedgerSummary.h"
#include "TempHome.h"

namespace {

class LedgerTest : public TempHomeTest {};

LedgerEntry entry(const char* outcome, std::optional<int> address, int minute) {
    LedgerEntry e;
    e.time = QDateTime(QDate(2026, 12, 8), QTime(10, minute, 0), QTimeZone(3600));
    e.port = QStringLiteral("/dev/ttyUSB0");
    e.address = address;
    e.outcome = QLatin1String(outcome);
    return e;
}

TEST_F(LedgerTest, LinesKeepEveryFieldAndQuoteCommasAndQuotes) {
    LedgerEntry moved = entry("moved", 291, 15);
    moved.systemBefore = 158;
    moved.channelBefore = 500;
    moved.backup = QStringLiteral("/home/a,b/QuelvintLog/backups/261208-101500_291_158.bin");
    moved.verified = QStringLiteral("yes");
    moved.seconds = 2.104;
    moved.setup = QStringLiteral("1a2b3c4d");
    moved.note = QStringLiteral("original not kept: cannot create /x, y");
    moved.place = StationPlace{3, true, 300, 2, -97};
    EXPECT_EQ(ledger::formatLine(moved),
              "2026-12-08T10:15:00+01:00,/dev/ttyUSB0,291,158,500,moved,0,"
              "\"/home/a,b/QuelvintLog/backups/261208-101500_291_158.bin\",yes,2.10,1a2b3c4d,"
              "\"original not kept: cannot create /x, y\",,1,300,2,-97");

    LedgerEntry silent = entry("no-answer", std::nullopt, 16);
    silent.port = QStringLiteral("Hub \"left\", 1");
    silent.code = -1;
    for (const LedgerEntry& original : {moved, silent}) {
        LedgerEntry back;
        ASSERT_TRUE(ledger::parseLine(ledger::formatLine(original), &back)) << ledger::formatLine(original).constData();
        EXPECT_EQ(back.time, original.time);
        EXPECT_EQ(back.port, original.port);
        EXPECT_EQ(back.address, original.address);
        EXPECT_EQ(back.systemBefore, original.systemBefore);
        EXPECT_EQ(back.outcome, original.outcome);
        EXPECT_EQ(back.code, original.code);
        EXPECT_EQ(back.backup, original.backup);
        EXPECT_EQ(back.verified, original.verified);
        EXPECT_EQ(back.setup, original.setup);
        EXPECT_EQ(back.note, original.note);
        EXPECT_EQ(back.place.has_value(), original.place.has_value());
        if (back.place && original.place) {
            EXPECT_EQ(back.place->attached, original.place->attached);
            EXPECT_EQ(back.place->parent, original.place->parent);
            EXPECT_EQ(back.place->link, original.place->link);
            EXPECT_EQ(back.place->signal, original.place->signal);
        }
    }
    // Lines written before the setup and note columns still read.
    LedgerEntry old;
    ASSERT_TRUE(ledger::parseLine("2026-12-08T10:15:00+01:00,/dev/ttyUSB0,291,158,500,moved,0,/b.bin,yes,2.10", &old));
    EXPECT_EQ(old.address, 291);
    EXPECT_EQ(old.backup, "/b.bin");
    EXPECT_TRUE(old.setup.isEmpty() && old.note.isEmpty());
    LedgerEntry ignored;
    for (const char* bad : {ledger::kHeader, ledger::kHeaderWithoutSetup,
                            "2026-12-08T10:15:00+01:00,p,291,158,500,moved,0,,,1.00,abc",
                            "2026-12-08T10:15:00+01:00,p,291,158,500,melted,0,,,1.00",
                            "2026-12-08T10:15:00+01:00,p,29x,158,500,moved,0,,,1.00", "2026-12-08T10:15:00+01:00,\"p,2"})
        EXPECT_FALSE(ledger::parseLine(bad, &ignored)) << bad;
}

TEST_F(LedgerTest, TheHeaderComesOnceAndATornLastLineIsEndedFirst) {
    ASSERT_TRUE(ledger::append(entry("moved", 291, 1)));
    QFile file(ledger::path());
    ASSERT_TRUE(file.open(QIODevice::Append));
    file.write("2026-12-08T10:02:00+01:00,/dev/tty");   // a crash mid-line
    file.close();
    const Result<QString> appended = ledger::append(entry("no-port", std::nullopt, 3));
    ASSERT_TRUE(appended) << appended.why().toStdString();

    const QList<QByteArray> lines = readAll(ledger::path()).split('\n');
    ASSERT_EQ(lines.size(), 5);   // header, line, torn line, line, empty after the last line end
    EXPECT_EQ(lines[0], ledger::kHeader);
    int unreadable = 0;
    const std::vector<LedgerEntry> read = ledger::read(ledger::path(), &unreadable);
    ASSERT_EQ(read.size(), 2u);
    EXPECT_EQ(read[1].outcome, "no-port");
    EXPECT_EQ(unreadable, 1);
}

// An append that cannot be made says why: the system's reason, and where the
// line could not wait either. A ledger that cannot be written while its
// pending file can is no failure: the line waits there, and that is said.
TEST_F(LedgerTest, AnUnwritableLedgerSaysWhy) {
    const QString file = homePath() + QStringLiteral("/notes.txt");
    QFile regular(file);
    ASSERT_TRUE(regular.open(QIODevice::WriteOnly));
    regular.close();
    const QString folder = homePath() + QStringLiteral("/folders");
    const struct {
        const char* what;
        QString ledger;
        QStringList directories;   // made first, at these paths
        bool done;
        QString reason;            // in what the append says
    } cases[] = {
        {"a folder that is not there", homePath() + QStringLiteral("/no/such/dir/ledger.csv"), {}, false,
         QStringLiteral("No such file or directory")},
        {"a file where its folder should be", file + QStringLiteral("/ledger.csv"), {}, false,
         QStringLiteral("Not a directory")},
        {"folders at both names", folder + QStringLiteral("/ledger.csv"),
         {folder + QStringLiteral("/ledger.csv"), folder + QStringLiteral("/ledger.pending.csv")}, false,
         QStringLiteral("a directory, not a regular file")},
        {"a folder at the ledger's name only", homePath() + QStringLiteral("/other/ledger.csv"),
         {homePath() + QStringLiteral("/other/ledger.csv")}, true, QStringLiteral("a directory, not a regular file")},
    };
    for (const auto& c : cases) {
        for (const QString& directory : c.directories) ASSERT_TRUE(QDir().mkpath(directory)) << c.what;
        QString pending;
        const Result<QString> appended = ledger::appendTo(c.ledger, entry("moved", 1, 1), &pending);
        EXPECT_EQ(bool(appended), c.done) << c.what;
        const QString said = c.done ? pending : appended.why();
        EXPECT_TRUE(said.contains(c.reason)) << c.what << ": " << said.toStdString();
        EXPECT_TRUE(said.contains(ledger::pendingPath(c.ledger))) << c.what << ": " << said.toStdString();
        if (c.done) {
            EXPECT_TRUE(said.contains(c.ledger)) << c.what << ": " << said.toStdString();
            EXPECT_EQ(ledger::read(ledger::pendingPath(c.ledger)).size(), 1u) << "the line waits";
        }
    }
}

TEST_F(LedgerTest, AppendsFromManyProcessesNeverMixOrTearLines) {
    constexpr int kProcesses = 6;
    constexpr int kLinesEach = 150;
    // Long lines: far beyond what a single pipe write keeps whole.
    const QString longBackup = QStringLiteral("/backups/") + QString(6000, QLatin1Char('x'));
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            LedgerEntry e = entry("moved", 1000 + p, 1);
            e.backup = longBackup;
            bool ok = true;
            // Each its own run, as in life: two runs never share their time,
            // port and address, and a line held back in the pending file by a
            // slow lock is told from those already in the ledger by them.
            const QDateTime start = e.time;
            for (int i = 0; i < kLinesEach; ++i) {
                e.time = start.addSecs(i);
                ok = ledger::append(e) && ok;
            }
            ::_exit(ok ? 0 : 1);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    int unreadable = 0;
    const std::vector<LedgerEntry> lines = ledger::read(ledger::path(), &unreadable);
    EXPECT_EQ(unreadable, 0);
    std::map<int, int> perProcess;
    for (const LedgerEntry& line : lines) {
        EXPECT_EQ(line.backup, longBackup);
        ++perProcess[line.address.value_or(-1)];
    }
    EXPECT_EQ(lines.size(), static_cast<std::size_t>(kProcesses * kLinesEach));
    for (int p = 0; p < kProcesses; ++p) EXPECT_EQ(perProcess[1000 + p], kLinesEach) << p;
    EXPECT_EQ(readAll(ledger::path()).count(ledger::kHeader), 1) << "the header once, however the race went";
}

TEST_F(LedgerTest, SummaryCountsOutcomesAndPutsStationsToVisitFirst) {
    const std::vector<LedgerEntry> entries = {
        entry("no-answer", 290, 1),                                 // before --since
        entry("moved", 291, 2),        entry("no-answer", 291, 3),  // latest not moved
        entry("no-answer", 292, 4),    entry("moved", 292, 5),      // fixed on the second visit
        entry("other-system", 293, 6), entry("already-moved", 294, 7),
        entry("no-port", std::nullopt, 8),
    };
    const LedgerSummary summary = summariseLedger(entries, entries[1].time);
    std::vector<std::pair<QString, int>> counts;
    for (const auto& count : summary.counts)
        if (count.second > 0) counts.push_back(count);
    const std::vector<std::pair<QString, int>> expected = {
        {"moved", 2}, {"already-moved", 1}, {"other-system", 1}, {"no-port", 1}, {"no-answer", 2}};
    EXPECT_EQ(counts, expected);
    EXPECT_EQ(summary.counts.size(), std::size(kRunOutcomes)) << "every outcome is listed, with its zero";

    std::vector<std::pair<int, QString>> stations;
    for (const auto& station : summary.stations) stations.emplace_back(station.address, outcomeName(station.outcome));
    const std::vector<std::pair<int, QString>> order = {
        {291, "no-answer"}, {293, "other-system"}, {292, "moved"}, {294, "already-moved"}};
    EXPECT_EQ(stations, order);
}

// Namesakes (one address, two setups) stay apart; a line without a setup
// (an older ledger, a run that read only the head) joins the one station of
// its address when only one is known; runs that read no station count per port.
TEST_F(LedgerTest, SummaryKeysStationsByAddressAndSetupAndListsSilentPorts) {
    const auto at = [](const char* outcome, std::optional<int> address, const char* setup, int minute,
                       const char* port = "/dev/ttyUSB0") {
        LedgerEntry e = entry(outcome, address, minute);
        e.setup = QLatin1String(setup);
        e.port = QLatin1String(port);
        return e;
    };
    const std::vector<LedgerEntry> entries = {
        at("verify-failed", 3201, "aaaa0001", 1), at("moved", 3201, "bbbb0002", 2),
        at("no-answer", 3201, "", 3),                                   // which of the two: its own row
        at("no-answer", 3300, "", 4),  at("moved", 3300, "cccc0003", 5),  // an older line, then the same station
        at("no-answer", std::nullopt, "", 6, "/dev/ttyS0"), at("no-port", std::nullopt, "", 7, "/dev/ttyS0"),
        at("no-answer", std::nullopt, "", 8, "/dev/ttyUSB1"),
    };
    const LedgerSummary summary = summariseLedger(entries, QDateTime());
    std::vector<std::tuple<int, QString, QString>> stations;
    for (const auto& s : summary.stations) stations.emplace_back(s.address, s.setup, outcomeName(s.outcome));
    const std::vector<std::tuple<int, QString, QString>> expected = {
        {3201, "", "no-answer"}, {3201, "aaaa0001", "verify-failed"}, {3201, "bbbb0002", "moved"},
        {3300, "cccc0003", "moved"}};
    EXPECT_EQ(stations, expected);

    std::vector<std::tuple<QString, int, QString>> ports;
    for (const auto& p : summary.silentPorts) ports.emplace_back(p.port, p.runs, outcomeName(p.outcome));
    const std::vector<std::tuple<QString, int, QString>> silent = {{"/dev/ttyS0", 2, "no-port"},
                                                                   {"/dev/ttyUSB1", 1, "no-answer"}};
    EXPECT_EQ(ports, silent);
}

}  // namespace
