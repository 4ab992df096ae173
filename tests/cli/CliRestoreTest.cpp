// restore and the ledger from the command line: the stations restore
// refuses, its read-back and its ledger lines; the summary of a fleet with
// namesakes and a silent port; an original that cannot be kept; a restart that
// cannot be sent; an interrupt between the backup and the first write; no home.
#include <QElapsedTimer>
#include <QFileInfo>
#include <QThread>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#include <functional>
#include <map>

#include "CliFixture.h"
#include "JobMessages.h"
#include "Ledger.h"
#include "ExitStatus.h"
#include "StationRestore.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

sim::StationModel movedStation(std::uint8_t system = 0x3A) {
    sim::StationModel model = sim::makeDefaultStation();
    model.rom[0xC004] = system;
    model.setRom16(0xC00C, 1902);
    return model;
}

class CliRestoreTest : public CliFixture {
protected:
    std::vector<LedgerEntry> ledgerLines() const { return ledger::read(logDir() + QStringLiteral("/ledger.csv")); }
    QString writeBlock(const Bytes& block) {
        const QString file = home_.path() + QStringLiteral("/station.bin");
        QFile out(file);
        EXPECT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        out.write(asBytes(block));
        return file;
    }
    // The lines of `ledger` output that start with `text`, split in cells.
    static std::vector<QStringList> rowsStarting(const QString& out, const QString& text) {
        std::vector<QStringList> rows;
        for (const QString& line : out.split(QLatin1Char('\n')))
            if (line.startsWith(text)) rows.push_back(line.split(QLatin1Char(' '), Qt::SkipEmptyParts));
        return rows;
    }
};

TEST_F(CliRestoreTest, EachRestoreEndsWithItsStatusAndItsLedgerLine) {
    const Bytes unmoved = paramBlock(sim::makeDefaultStation());   // 0x9E, channel 500
    sim::FaultScript keepsNothing;
    keepsNothing.always(sim::Fault::ignoreWrite());
    // Exchanges of a restore: 0..7 the block, 8 table, 9 block 0, 10 and 11
    // their read-back, 12 the system code (13 its second attempt).
    sim::FaultScript lostAfterTable, ackDamaged, ackLost;
    lostAfterTable.powerLostFrom(9);
    for (const int attempt : {12, 13}) {
        ackDamaged.at(attempt, sim::Fault::badCrc());   // the station stores it, the reply is spoilt
        ackLost.at(attempt, sim::Fault::noReply());
    }
    const struct {
        const char* what;
        sim::StationModel station;
        sim::FaultScript faults;
        bool file;
        bool force;
        int status;
        const char* outcome;
        int code;
        const char* verified;
        int writes;
        QString said;   // on standard error
    } cases[] = {
        {"a moved station, its own backup", movedStation(), {}, true, false, 0, "restored", 0, "yes", 3,
         QStringLiteral("restored channel table, channel block 0 and system code 158")},
        {"another system, its original", movedStation(0x55), {}, false, false, 3, "other-system", 255, "", 0,
         QStringLiteral("system code 85 (0x55)")},
        {"another system, a file", movedStation(0x55), {}, true, false, 3, "other-system", 255, "", 0,
         QStringLiteral("with or without --force")},
        {"another system, a file and --force", movedStation(0x55), {}, true, true, 3, "other-system", 255, "", 0,
         QStringLiteral("not restored")},
        {"a station that keeps no writes", movedStation(), keepsNothing, true, false, 7, "verify-failed", 8, "no", 2,
         QStringLiteral("read back 0xC00C: 6E instead of F4")},
        {"the link lost after the table", movedStation(), lostAfterTable, true, false, 5, "partly-written", -1, "", 3,
         QStringLiteral("partly written: the link broke off between the first write and the restart; keep it "
                        "connected and run restore again")},
        {"system code kept, acknowledgement damaged", movedStation(), ackDamaged, true, false, 0, "restored", 0, "yes",
         4, QStringLiteral("acknowledgement of the system-code write was lost; 0xC004 read back 9E, so the write took")},
        {"system code not kept, no acknowledgement", movedStation(), ackLost, true, false, 5, "partly-written", -1, "",
         4, QStringLiteral("run restore again, which completes it (-1)")},
    };
    for (const auto& c : cases) {
        sim::PtyStationHost station(c.station);
        station.setFaults(c.faults);
        ASSERT_TRUE(station.start());
        const Bytes before = paramBlock(station.snapshot());
        QStringList args{QStringLiteral("restore"), QStringLiteral("--port"), path(station)};
        if (c.file) args << writeBlock(unmoved);
        if (c.force) args << QStringLiteral("--force");

        const CliResult result = run(args);
        EXPECT_EQ(result.exitCode, c.status) << c.what << "\n" << result.err();
        EXPECT_TRUE(result.errContains(c.said)) << c.what << "\n" << result.err();
        EXPECT_EQ(writesSeen(station), c.writes) << c.what;
        const std::vector<LedgerEntry> lines = ledgerLines();
        ASSERT_FALSE(lines.empty()) << c.what;
        const LedgerEntry& line = lines.back();
        EXPECT_EQ(line.outcome, c.outcome) << c.what;
        EXPECT_EQ(line.code, c.code) << c.what;
        EXPECT_EQ(line.verified, c.verified) << c.what;
        EXPECT_EQ(line.address, 291) << c.what;
        EXPECT_EQ(line.systemBefore, before[4]) << c.what;
        EXPECT_EQ(line.channelBefore, 1902) << c.what;
        EXPECT_EQ(line.setup, setupFingerprint(before.data())) << c.what;
        if (c.status == 0) {
            ASSERT_TRUE(station.waitForRestarts(1, std::chrono::seconds(10))) << c.what;
            EXPECT_EQ(paramBlock(station.snapshot()), unmoved) << c.what;
            EXPECT_FALSE(line.backup.isEmpty()) << c.what;
            continue;
        }
        EXPECT_EQ(station.snapshot().restarts, 0) << c.what << ": no restart after a refusal or a failed check";
        if (line.outcome != QLatin1String("partly-written")) continue;
        // What the outcome line promises: run again, the station is restored.
        station.setFaults(sim::FaultScript{});
        const CliResult again = run(args);
        EXPECT_EQ(again.exitCode, 0) << c.what << "\n" << again.err();
        ASSERT_TRUE(station.waitForRestarts(1, std::chrono::seconds(10))) << c.what;
        EXPECT_EQ(paramBlock(station.snapshot()), unmoved) << c.what;
    }
}

// True once the station has been asked to read after it took the system
// code back: the child has read the write's acknowledgement by then.
bool askedToReadAfterTheSystemCode(const sim::PtyStationHost& station) {
    for (;;) {
        const std::vector<sim::WireFrame> frames = station.frames();
        bool written = false;
        for (const sim::WireFrame& f : frames) {
            if (f.direction != sim::WireFrame::Direction::ToStation || f.bytes.size() < 5) continue;
            if (f.bytes[2] == 0x06 && f.bytes[3] == 0xC0 && f.bytes[4] == 0x04) written = true;
            else if (written && f.bytes[2] == 0x05) return true;
        }
        if (!station.waitForFrames(frames.size() + 1, std::chrono::seconds(60))) return false;
    }
}

// The adapter is pulled once the station has acknowledged the system code:
// the restart cannot go out, so the station holds the backup's settings but
// runs the moved ones, and the restore must say so rather than "restarted".
// The station stops answering at once, so the child spends its read-back's
// time-outs and the pause before the restart while the line is taken away.
TEST_F(CliRestoreTest, ARestartThatCannotBeSentIsNoSuccess) {
    sim::PtyStationHost station(movedStation());
    station.setOnWrite([&station](const sim::StationModel& memory) {
        sim::FaultScript gone;
        gone.powerLostFrom(station.exchangeCount());
        if (memory.rom[0xC004] == 0x9E) station.setFaults(gone);
    });
    ASSERT_TRUE(station.start());
    const QString file = writeBlock(paramBlock(sim::makeDefaultStation()));
    const std::unique_ptr<QProcess> process =
        start({QStringLiteral("restore"), QStringLiteral("--port"), path(station), file});
    const bool asked = askedToReadAfterTheSystemCode(station);
    station.stop();
    const CliResult result = finish(*process);
    ASSERT_TRUE(asked) << "the system code was not written back and read\n" << result.err();

    EXPECT_EQ(result.exitCode, exit_status::otherFailure) << result.err();
    EXPECT_TRUE(result.errContains(QStringLiteral("the restart command could not be sent"))) << result.err();
    EXPECT_FALSE(result.errContains(QStringLiteral("restarted"))) << result.err();
    EXPECT_EQ(station.snapshot().rom[0xC004], 0x9E);
    EXPECT_EQ(station.snapshot().restarts, 0);
    const std::vector<LedgerEntry> lines = ledgerLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].outcome, "failed");
    EXPECT_EQ(lines[0].code, job_messages::kCodeRestartNotSent);
    EXPECT_EQ(lines[0].verified, "no") << "the system code's read-back got no answer";
    EXPECT_TRUE(result.errContains(QStringLiteral("read back 0xC004: no answer"))) << result.err();
}

// Two stations with address 291 but their own setups, one moved and then
// restored, one that keeps no writes; and a port where nothing answers.
TEST_F(CliRestoreTest, TheSummaryKeepsNamesakesApartAndListsPortsThatReadNothing) {
    sim::StationModel first = sim::makeDefaultStation();
    first.rom[0xC0F0] = 1;
    sim::StationModel second = sim::makeDefaultStation();
    second.rom[0xC0F0] = 2;
    sim::PtyStationHost kept(first), lost(second), silent;
    sim::FaultScript keepsNothing, quiet;
    keepsNothing.always(sim::Fault::ignoreWrite());
    quiet.powerLostFrom(0);
    lost.setFaults(keepsNothing);
    silent.setFaults(quiet);
    for (sim::PtyStationHost* host : {&kept, &lost, &silent}) ASSERT_TRUE(host->start());

    EXPECT_EQ(run({QStringLiteral("program"), QStringLiteral("--port"), path(kept)}).exitCode, 0);
    EXPECT_EQ(run({QStringLiteral("program"), QStringLiteral("--port"), path(lost)}).exitCode, 7);
    EXPECT_EQ(run({QStringLiteral("program"), QStringLiteral("--port"), path(silent)}).exitCode, 5);
    ASSERT_TRUE(kept.waitForRestarts(1, std::chrono::seconds(10)));
    const CliResult restored = run({QStringLiteral("restore"), QStringLiteral("--port"), path(kept)});
    EXPECT_EQ(restored.exitCode, 0) << restored.err();

    const CliResult summary = run({QStringLiteral("ledger")});
    ASSERT_EQ(summary.exitCode, 0) << summary.err();
    std::map<QString, QString> outcomeBySetup;
    for (const QStringList& row : rowsStarting(summary.out, QStringLiteral("291 ")))
        outcomeBySetup[row.value(1)] = row.value(2);
    const std::map<QString, QString> expected = {{setupFingerprint(paramBlock(first).data()), "restored"},
                                                 {setupFingerprint(paramBlock(second).data()), "verify-failed"}};
    EXPECT_EQ(outcomeBySetup, expected) << summary.out.toStdString();
    const QString silentPorts = summary.out.mid(summary.out.indexOf(QStringLiteral("ports where no station was read")));
    const std::vector<QStringList> silentRows = rowsStarting(silentPorts, QStringLiteral("1 "));
    ASSERT_EQ(silentRows.size(), 1u) << summary.out.toStdString();
    EXPECT_EQ(silentRows[0].value(1), QStringLiteral("no-answer"));
    EXPECT_EQ(silentRows[0].last(), path(silent));
}

TEST_F(CliRestoreTest, AnOriginalThatCannotBeKeptIsSaidAndTheMoveGoesOn) {
    ASSERT_TRUE(QDir(logDir()).mkpath(QStringLiteral("backups")));
    QFile blocker(backupsDir() + QStringLiteral("/originals"));   // no folder can be made there
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    sim::PtyStationHost station;
    ASSERT_TRUE(station.start());

    const CliResult result = run({QStringLiteral("program"), QStringLiteral("--port"), path(station)});
    EXPECT_EQ(result.exitCode, 0) << result.err();
    EXPECT_EQ(station.snapshot().rom[0xC004], 0x3A);
    EXPECT_TRUE(result.errContains(QStringLiteral("original could not be kept"))) << result.err();
    EXPECT_TRUE(result.out.contains(QStringLiteral("The original of the parameter block could not be kept")))
        << result.out.toStdString();
    ASSERT_EQ(backups().size(), 1) << "the timestamped backup exists";
    const std::vector<LedgerEntry> lines = ledgerLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(lines.back().note.startsWith(QStringLiteral("original not kept: cannot create")))
        << lines.back().note.toStdString();
    EXPECT_EQ(lines.back().backup, backupsDir() + QLatin1Char('/') + backups().first());
}

TEST_F(CliRestoreTest, AnInterruptedRestoreIsInTheLedger) {
    sim::PtyStationHost station(movedStation());
    sim::FaultScript slow;
    slow.always(sim::Fault::delay(200));
    station.setFaults(slow);
    ASSERT_TRUE(station.start());
    auto process = start({QStringLiteral("restore"), QStringLiteral("--port"), path(station),
                          writeBlock(paramBlock(sim::makeDefaultStation()))});
    ASSERT_TRUE(station.waitForFrames(3, std::chrono::seconds(10)));   // reading the block
    ::kill(static_cast<pid_t>(process->processId()), SIGINT);
    const CliResult result = finish(*process);
    EXPECT_EQ(result.exitCode, 130) << result.err();
    EXPECT_EQ(writesSeen(station), 0);
    const std::vector<LedgerEntry> lines = ledgerLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines.back().outcome, "interrupted");
    EXPECT_EQ(lines.back().code, 130);
}

TEST_F(CliRestoreTest, WithoutAHomeNothingIsDone) {
    sim::PtyStationHost station;
    ASSERT_TRUE(station.start());
    for (const bool set : {false, true}) {
        QProcessEnvironment env = environment();
        env.remove(QStringLiteral("HOME"));
        if (set) env.insert(QStringLiteral("HOME"), QString());
        for (const QString& command : {QStringLiteral("program"), QStringLiteral("restore")}) {
            QProcess process;
            process.setProcessEnvironment(env);
            process.setWorkingDirectory(home_.path());
            process.start(QStringLiteral(RECHANNEL_CLI_PATH), {command, QStringLiteral("--port"), path(station)});
            const CliResult result = finish(process);
            EXPECT_EQ(result.exitCode, 6) << command.toStdString() << set << "\n" << result.err();
            EXPECT_TRUE(result.lastErrLine().contains(QStringLiteral("HOME is not set"))) << result.err();
        }
    }
    EXPECT_TRUE(station.frames().empty()) << "the station was not even read";
}

}  // namespace

// An interrupt after the backup file was made and before the first write
// stops the restore there: nothing reaches the station, the backup stays on
// disk and the ledger says interrupted. The run is held in that gap while it
// keeps the station's original: a FIFO stands where an earlier original of
// that address would be, and reading it waits for a writer. (Its standard
// error cannot hold it: lines go through a queue that never waits for the
// stream.)
TEST_F(CliRestoreTest, AnInterruptBetweenTheBackupAndTheFirstWriteWritesNothing) {
    ASSERT_TRUE(QDir(logDir()).mkpath(QStringLiteral("backups/originals")));
    const QString original = backupsDir() + QStringLiteral("/originals/291.bin");
    ASSERT_EQ(::mkfifo(QFile::encodeName(original).constData(), 0600), 0);

    sim::PtyStationHost station;   // unmoved: the run keeps its original
    ASSERT_TRUE(station.start());
    Bytes block = paramBlock(sim::makeDefaultStation());
    block[0x0C] ^= 0x01;   // a channel table the restore would write
    auto process = start({QStringLiteral("restore"), QStringLiteral("--port"), path(station), writeBlock(block)});
    QElapsedTimer waited;
    waited.start();
    while (backups().size() != 1 && waited.elapsed() < 60000) QThread::msleep(10);
    ASSERT_EQ(backups().size(), 1) << "the restore saved no backup";
    ::kill(static_cast<pid_t>(process->processId()), SIGINT);
    // Should the run not have ended, the original's reader is let go: it
    // must still write nothing.
    const int writer = ::open(QFile::encodeName(original).constData(), O_WRONLY | O_NONBLOCK);
    if (writer >= 0) ::close(writer);
    const CliResult result = finish(*process);
    EXPECT_EQ(result.exitCode, 130) << result.err();
    EXPECT_EQ(writesSeen(station), 0) << "the station was written after the interrupt";
    EXPECT_TRUE(result.errContains(QStringLiteral("nothing was written"))) << result.err();
    EXPECT_EQ(backups().size(), 1);
    const std::vector<LedgerEntry> lines = ledgerLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines.back().outcome, "interrupted");
}
