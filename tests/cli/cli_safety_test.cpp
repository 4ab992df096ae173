// What keeps a station safe from the command line: the backup before the
// first write (exclusive, with the original kept), restore's refusals,
// interrupts before and during the write phase, and the run after an
// interrupted run on a slow station.
#include <QFileInfo>
#include <atomic>
#include <signal.h>

#include "Ledger.h"
#include "CliFixture.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

class CliSafetyTest : public CliFixture {
protected:
    QString originalOf(std::uint16_t address) const {
        return backupsDir() + QStringLiteral("/originals/%1.bin").arg(address);
    }
};

TEST_F(CliSafetyTest, NoWriteWithoutABackupUnlessNoBackupIsGiven) {
    const struct {
        const char* what;
        std::function<void()> breakHome;
        bool ledgerWritable;
    } cases[] = {
        {"home is a regular file",
         [&] {
             homeOverride_ = home_.path() + QStringLiteral("/not-a-directory");
             QFile file(homeOverride_);
             ASSERT_TRUE(file.open(QIODevice::WriteOnly));
         },
         false},
        {"backups is a regular file",
         [&] {
             QFile file(backupsDir());
             ASSERT_TRUE(file.open(QIODevice::WriteOnly));
         },
         true},
    };
    for (const auto& c : cases) {
        c.breakHome();
        sim::PtyStationHost station;
        ASSERT_TRUE(station.start());
        const Bytes before = paramBlock(station.snapshot());

        const CliResult refused = run({QStringLiteral("program"), QStringLiteral("--port"), path(station)});
        EXPECT_EQ(refused.exitCode, 6) << c.what << "\n" << refused.err();
        EXPECT_TRUE(refused.errContains(QStringLiteral("--no-backup"))) << c.what;
        ASSERT_GE(refused.errLines.size(), 3) << c.what;
        EXPECT_EQ(refused.errLines[refused.errLines.size() - 3], QStringLiteral("station address: 291")) << c.what;
        EXPECT_EQ(refused.errLines[refused.errLines.size() - 2], QStringLiteral("backup: no backup")) << c.what;
        EXPECT_EQ(writesSeen(station), 0) << c.what;
        EXPECT_EQ(paramBlock(station.snapshot()), before) << c.what;
        if (c.ledgerWritable) {
            // The station was read whole: the ledger names it, so it shows as one to visit.
            const std::vector<LedgerEntry> lines = ledger::read(logDir() + QStringLiteral("/ledger.csv"));
            ASSERT_FALSE(lines.empty()) << c.what;
            EXPECT_EQ(lines.back().address, std::optional<int>(291)) << c.what;
            EXPECT_EQ(lines.back().systemBefore, std::optional<int>(0x9E)) << c.what;
            EXPECT_EQ(lines.back().outcome, "failed") << c.what;
        }

        const CliResult forced =
            run({QStringLiteral("program"), QStringLiteral("--port"), path(station), QStringLiteral("--no-backup")});
        EXPECT_EQ(forced.exitCode, 0) << c.what << "\n" << forced.err();
        EXPECT_TRUE(forced.errContains(QStringLiteral("backup: no backup"))) << c.what;
        EXPECT_EQ(station.snapshot().rom[0xC004], 0x3A) << c.what;
        homeOverride_.clear();
    }
}

TEST_F(CliSafetyTest, ParallelRunsOnStationsWithOneAddressKeepABackupEach) {
    constexpr int kRuns = 4;
    std::vector<std::unique_ptr<sim::PtyStationHost>> stations;
    std::vector<std::unique_ptr<QProcess>> runs;
    for (int i = 0; i < kRuns; ++i) {
        sim::StationModel model = sim::makeDefaultStation();
        model.rom[0xC0F0] = static_cast<std::uint8_t>(i);   // tells the blocks apart
        stations.push_back(std::make_unique<sim::PtyStationHost>(model));
        ASSERT_TRUE(stations.back()->start());
    }
    for (const auto& station : stations) runs.push_back(start({QStringLiteral("program"), QStringLiteral("--port"), path(*station)}));
    for (const auto& process : runs) EXPECT_EQ(finish(*process).exitCode, 0);

    const QStringList saved = backups();
    ASSERT_EQ(saved.size(), kRuns) << saved.join(' ').toStdString();
    std::vector<bool> seen(kRuns, false);
    for (const QString& name : saved) {
        const QByteArray bytes = fileBytes(backupsDir() + QLatin1Char('/') + name);
        ASSERT_EQ(bytes.size(), 256) << name.toStdString();
        seen.at(static_cast<std::size_t>(static_cast<std::uint8_t>(bytes[0xF0]))) = true;
    }
    EXPECT_EQ(std::count(seen.begin(), seen.end(), true), kRuns) << "one backup holds another run's block";
    EXPECT_EQ(fileBytes(originalOf(291)).size(), 256) << "one whole original";
}

// Power lost after the channel table was written: the next run's backup holds
// the half-moved block, but the original stays the untouched one, and restore
// without a file brings it back.
TEST_F(CliSafetyTest, TheOriginalSurvivesAPowerLossAndARerunAndRestoreUsesIt) {
    sim::PtyStationHost station;
    sim::FaultScript powerLoss;
    powerLoss.powerLostFrom(18);   // 17 reads, then the channel table write is the last answered
    station.setFaults(powerLoss);
    ASSERT_TRUE(station.start());
    const Bytes untouched = paramBlock(station.snapshot());

    const CliResult cut = run({QStringLiteral("program"), QStringLiteral("--port"), path(station)});
    EXPECT_EQ(cut.exitCode, 5) << cut.err();
    ASSERT_NE(paramBlock(station.snapshot()), untouched) << "the table write should have landed";
    station.setFaults(sim::FaultScript{});

    const CliResult rerun = run({QStringLiteral("program"), QStringLiteral("--port"), path(station)});
    EXPECT_EQ(rerun.exitCode, 0) << rerun.err();
    EXPECT_EQ(backups().size(), 2);
    EXPECT_EQ(fileBytes(originalOf(291)), asBytes(untouched));
    EXPECT_EQ(station.snapshot().rom[0xC004], 0x3A);

    const CliResult restored = run({QStringLiteral("restore"), QStringLiteral("--port"), path(station)});
    EXPECT_EQ(restored.exitCode, 0) << restored.err();
    ASSERT_TRUE(station.waitForRestarts(2, std::chrono::seconds(10)));
    EXPECT_EQ(paramBlock(station.snapshot()), untouched);
    EXPECT_EQ(backups().size(), 3) << "restore keeps a copy of what it overwrites";
}

TEST_F(CliSafetyTest, RestoreRefusesABlockOfAnotherSystemUnlessForcedAndBacksUpFirst) {
    sim::PtyStationHost station;
    ASSERT_TRUE(station.start());
    const Bytes present = paramBlock(station.snapshot());
    const auto writeFile = [&](const char* name, std::uint8_t system) {
        Bytes block(256, 0);
        block[2] = present[2];   // this station's address
        block[3] = present[3];
        block[4] = system;
        const QString file = home_.path() + QLatin1Char('/') + QLatin1String(name);
        QFile out(file);
        EXPECT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(asBytes(block));
        return file;
    };
    const QString zeroes = writeFile("zeroes.bin", 0x00);
    const QString moved = writeFile("moved.bin", 0x3A);

    for (const QString& file : {zeroes, moved}) {
        const CliResult refused = run({QStringLiteral("restore"), QStringLiteral("--port"), path(station), file});
        EXPECT_EQ(refused.exitCode, 2) << file.toStdString();
        EXPECT_TRUE(refused.errContains(QStringLiteral("--force"))) << refused.err();
    }
    EXPECT_EQ(writesSeen(station), 0);
    EXPECT_TRUE(backups().isEmpty());

    const CliResult noOriginal = run({QStringLiteral("restore"), QStringLiteral("--port"), path(station)});
    EXPECT_EQ(noOriginal.exitCode, 2);
    EXPECT_TRUE(noOriginal.errContains(QStringLiteral("no original backup of station 291"))) << noOriginal.err();

    const CliResult forced =
        run({QStringLiteral("restore"), QStringLiteral("--port"), path(station), moved, QStringLiteral("--force")});
    EXPECT_EQ(forced.exitCode, 0) << forced.err();
    EXPECT_EQ(station.snapshot().rom[0xC004], 0x3A);
    ASSERT_EQ(backups().size(), 1);
    EXPECT_EQ(fileBytes(backupsDir() + QLatin1Char('/') + backups().first()), asBytes(present));
    EXPECT_TRUE(forced.errContains(QStringLiteral("backup: ") + backupsDir())) << forced.err();
}

TEST_F(CliSafetyTest, AnInterruptBeforeTheFirstWriteEndsTheRunWithNothingWritten) {
    for (int signal : {SIGINT, SIGTERM}) {
        sim::PtyStationHost station;
        sim::FaultScript slow;
        slow.always(sim::Fault::delay(200));
        station.setFaults(slow);
        ASSERT_TRUE(station.start());
        const Bytes before = paramBlock(station.snapshot());

        auto process = start({QStringLiteral("program"), QStringLiteral("--port"), path(station)});
        ASSERT_TRUE(station.waitForFrames(3, std::chrono::seconds(10)));   // reading the block
        ::kill(static_cast<pid_t>(process->processId()), signal);
        const CliResult result = finish(*process);
        EXPECT_EQ(result.exitCode, 130) << signal << "\n" << result.err();
        EXPECT_TRUE(result.lastErrLine().contains(QStringLiteral("nothing was written"))) << result.err();
        EXPECT_EQ(writesSeen(station), 0);
        EXPECT_EQ(paramBlock(station.snapshot()), before);
        const std::vector<LedgerEntry> lines = ledger::read(logDir() + QStringLiteral("/ledger.csv"));
        ASSERT_FALSE(lines.empty()) << "the interrupted run is in the ledger";
        EXPECT_EQ(lines.back().outcome, "interrupted");
        EXPECT_EQ(lines.back().code, 130);
    }
}

TEST_F(CliSafetyTest, AnInterruptDuringTheWritePhaseIsDeferredUntilTheRestart) {
    for (int signal : {SIGINT, SIGTERM}) {
        sim::PtyStationHost station;
        std::atomic<qint64> pid{0};
        std::atomic<bool> sent{false};
        station.setOnWrite([&](const sim::StationModel&) {
            if (!sent.exchange(true)) ::kill(static_cast<pid_t>(pid.load()), signal);
        });
        ASSERT_TRUE(station.start());

        auto process = start({QStringLiteral("program"), QStringLiteral("--port"), path(station)});
        pid = process->processId();
        const CliResult result = finish(*process);
        EXPECT_TRUE(sent.load());
        EXPECT_EQ(result.exitCode, 0) << signal << "\n" << result.err();
        EXPECT_TRUE(result.errContains(QStringLiteral("keep it connected"))) << result.err();
        EXPECT_EQ(result.lastErrLine(), QString::fromUtf8("Станция переведена на новую частоту!"));
        EXPECT_EQ(station.snapshot().rom[0xC004], 0x3A);
        EXPECT_TRUE(station.waitForRestarts(1, std::chrono::seconds(10)));
    }
}

// The interrupted run leaves a request the slow station is still answering;
// that late reply reaches the next run, which must still read its own bytes.
TEST_F(CliSafetyTest, TheRunAfterAnInterruptedRunOnASlowStationMovesItRight) {
    sim::PtyStationHost station;
    sim::FaultScript slow;
    slow.always(sim::Fault::delay(400));
    station.setFaults(slow);
    ASSERT_TRUE(station.start());
    const Bytes before = paramBlock(station.snapshot());

    auto interrupted = start({QStringLiteral("program"), QStringLiteral("--port"), path(station)});
    ASSERT_TRUE(station.waitForFrames(5, std::chrono::seconds(10)));   // the third request is being answered
    ::kill(static_cast<pid_t>(interrupted->processId()), SIGINT);
    EXPECT_EQ(finish(*interrupted).exitCode, 130);

    const CliResult next = run({QStringLiteral("program"), QStringLiteral("--port"), path(station)}, 120000);
    EXPECT_EQ(next.exitCode, 0) << next.err();
    EXPECT_TRUE(next.out.contains(QStringLiteral("system_cod: 158, ch_delta[0]: 0"))) << next.out.toStdString();
    const Bytes after = paramBlock(station.snapshot());
    EXPECT_EQ(after[0x04], 0x3A);
    EXPECT_EQ(after[0x0C], 0x6E);   // 1902, then the station's own words 1..7
    EXPECT_EQ(after[0x0D], 0x07);
    EXPECT_TRUE(std::equal(before.begin() + 0x0E, before.begin() + 0x1C, after.begin() + 0x0E));
}

}  // namespace

// Whoever reads standard error may go away mid-run (a fleet runner killed, a
// closed pipe): the run goes on to its restart instead of dying of SIGPIPE
// between two writes.
TEST_F(CliSafetyTest, AReaderOfStandardErrorThatGoesAwayDoesNotEndTheRun) {
    sim::PtyStationHost station;
    ASSERT_TRUE(station.start());
    QProcess shell;
    shell.setProcessEnvironment(environment());
    shell.start(QStringLiteral("bash"),
                {QStringLiteral("-c"),
                 QStringLiteral("\"$0\" program --port \"$1\" --report-phases 2>&1 >/dev/null | true; "
                                "exit ${PIPESTATUS[0]}"),
                 QStringLiteral(RECHANNEL_CLI_PATH), path(station)});
    ASSERT_TRUE(shell.waitForFinished(60000));
    EXPECT_EQ(shell.exitCode(), 0) << "141 is death by SIGPIPE";
    EXPECT_EQ(station.snapshot().rom[0xC004], 0x3A);
    EXPECT_TRUE(station.waitForRestarts(1, std::chrono::seconds(10)));
}
