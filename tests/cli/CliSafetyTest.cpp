// What keeps a station safe from the command line: the backup before the
// first write (exclusive, with the original kept), restore's refusals,
// interrupts before and during the write phase, and the run after an
// interrupted run on a slow station.
#include <QElapsedTimer>
#include <QFileInfo>
#include <atomic>
#include <functional>
#include <signal.h>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

#include "JobMessages.h"
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
            EXPECT_TRUE(lines.back().note.startsWith(QStringLiteral("backup not saved: cannot create ")))
                << c.what << ": " << lines.back().note.toStdString();
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

// Power lost after the channel table was written: the run says the station is
// partly written and the next run completes it. That run's backup holds the
// half-moved block, but the original stays the untouched one, and restore
// without a file brings it back.
TEST_F(CliSafetyTest, TheOriginalSurvivesAPowerLossAndARerunAndRestoreUsesIt) {
    sim::PtyStationHost station;
    sim::FaultScript powerLoss;
    powerLoss.powerLostFrom(23);   // 22 reads (the status read among them), then the channel table write is the last answered
    station.setFaults(powerLoss);
    ASSERT_TRUE(station.start());
    const Bytes untouched = paramBlock(station.snapshot());

    const CliResult cut = run({QStringLiteral("program"), QStringLiteral("--port"), path(station)});
    EXPECT_EQ(cut.exitCode, 5) << cut.err();
    ASSERT_NE(paramBlock(station.snapshot()), untouched) << "the table write should have landed";
    // Said as partly written, with what completes it, in the outcome line and the ledger.
    EXPECT_TRUE(cut.lastErrLine().contains(QStringLiteral("partly written")) &&
                cut.lastErrLine().contains(QStringLiteral("run program again")))
        << cut.err();
    EXPECT_EQ(ledger::read(logDir() + QStringLiteral("/ledger.csv")).back().outcome, QStringLiteral("partly-written"));
    station.setFaults(sim::FaultScript{});

    const CliResult rerun = run({QStringLiteral("program"), QStringLiteral("--port"), path(station)});
    EXPECT_EQ(rerun.exitCode, 0) << rerun.err();
    EXPECT_EQ(ledger::read(logDir() + QStringLiteral("/ledger.csv")).back().outcome, QStringLiteral("moved"));
    EXPECT_EQ(backups().size(), 2);
    EXPECT_EQ(fileBytes(originalOf(291)), asBytes(untouched));
    EXPECT_EQ(station.snapshot().rom[0xC004], 0x3A);

    const CliResult restored = run({QStringLiteral("restore"), QStringLiteral("--port"), path(station)});
    EXPECT_EQ(restored.exitCode, 0) << restored.err();
    ASSERT_TRUE(station.waitForRestarts(2, std::chrono::seconds(10)));
    EXPECT_EQ(paramBlock(station.snapshot()), untouched);
    EXPECT_EQ(backups().size(), 3) << "restore keeps a copy of what it overwrites";
}

// The adapter pulled out: before the first write the run says nothing was
// written; once the channel table is written it says the station is partly
// written and what completes it, never that nothing was written.
TEST_F(CliSafetyTest, APortLostSaysWhetherTheStationWasPartlyWritten) {
    const struct {
        const char* what;
        int hangUpAt;   // the exchange at which the line hangs up
        int status;
        const char* outcome;
        const char* says;
        const char* neverSays;
    } cases[] = {
        {"while reading", 5, 4, "port-lost", "nothing was written", "partly written"},
        {"after the channel table", 23, 5, "partly-written", "partly written", "nothing was written"},
    };
    for (const auto& c : cases) {
        sim::PtyStationHost station;
        sim::FaultScript pulled;
        pulled.at(c.hangUpAt, sim::Fault::hangUp());   // 22 reads (the status read among them), then the channel table
        station.setFaults(pulled);
        ASSERT_TRUE(station.start());
        const CliResult lost = run({QStringLiteral("program"), QStringLiteral("--port"), path(station)});
        EXPECT_EQ(lost.exitCode, c.status) << c.what << "\n" << lost.err();
        EXPECT_TRUE(lost.lastErrLine().contains(QLatin1String(c.says))) << c.what << "\n" << lost.err();
        EXPECT_FALSE(lost.lastErrLine().contains(QLatin1String(c.neverSays))) << c.what << "\n" << lost.err();
        const std::vector<LedgerEntry> lines = ledger::read(logDir() + QStringLiteral("/ledger.csv"));
        ASSERT_FALSE(lines.empty()) << c.what;
        EXPECT_EQ(lines.back().outcome, QLatin1String(c.outcome)) << c.what;
        EXPECT_EQ(lines.back().code, job_messages::kCodePortLost) << c.what;
    }
}

// Every refusal writes nothing, keeps no backup and ends with the station
// lines; the forceable ones are written with their option, after a backup of
// what the station held. The station is not the simulator's default one but
// shares its address 291, as stations of two fleets can.
TEST_F(CliSafetyTest, RestoreRefusesWhatIsNotThisStationsBackupUnlessForced) {
    sim::DefaultStationOptions options;
    options.rangeCode = 2;
    options.channel0 = 700;
    const sim::StationModel model = sim::makeDefaultStation(options);
    const Bytes present = paramBlock(model);
    const auto writeFile = [&](const char* name, Bytes block) {
        const QString file = home_.path() + QLatin1Char('/') + QLatin1String(name);
        QFile out(file);
        EXPECT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(asBytes(block));
        return file;
    };
    const auto with = [](Bytes block, int offset, std::uint8_t value) {
        block[static_cast<std::size_t>(offset)] = value;
        return block;
    };
    Bytes zeroes(256, 0);
    zeroes[2] = present[2];
    zeroes[3] = present[3];
    Bytes moved = with(present, 0x04, 0x3A);
    moved[0x0C] = 0x6E;   // channel 0 at 1902
    moved[0x0D] = 0x07;

    const struct {
        const char* what;
        std::function<QString()> file;   // the FILE argument; empty: the original
        int status;
        QString outcome;       // in the last line
        QString explanation;   // in a line before the station lines
        const char* override;  // nullptr: none
        int overriddenStatus;
    } cases[] = {
        // Those without a file first: the backup of this unmoved station that a
        // written case takes becomes the original of 291.
        {"no file and no original", [] { return QString(); }, 2, QStringLiteral("no original backup of station 291"),
         QString(), "--force", 2},
        {"no file, the original a simulated run kept",
         [&] {
             EXPECT_EQ(run({QStringLiteral("program"), QStringLiteral("--simulate")}).exitCode, 0);
             return QString();
         },
         2, QStringLiteral("no original backup of station 291"),
         QStringLiteral("the 1 original(s) kept for address 291 are of other stations"), "--force", 2},
        {"all zeroes with this address", [&] { return writeFile("zeroes.bin", zeroes); }, 2,
         QStringLiteral(" byte(s) differ) and holds system code 0, not 158 (0x9E)"),
         QStringLiteral("0xC000: 01 on the station, 00 in the backup"), nullptr, 0},
        {"this station moved", [&] { return writeFile("moved.bin", moved); }, 2,
         QStringLiteral("moved.bin holds system code 58, not 158 (0x9E); nothing written. Give --force"), QString(),
         "--force", 0},
        {"another station with this address",
         [&] { return writeFile("other.bin", paramBlock(sim::makeDefaultStation())); }, 2,
         QStringLiteral("other.bin is not a backup of this station"),
         QStringLiteral("0xC007: 02 on the station, 01 in the backup"), "--force", 0},
        {"another address", [&] { return writeFile("292.bin", with(present, 0x02, 0x24)); }, 2,
         QStringLiteral("is the backup of station 292, but the station on the port is 291"), QString(), "--force", 2},
        {"the present block cannot be backed up",
         [&] {
             const QString file = writeFile("own.bin", present);
             homeOverride_ = home_.path() + QStringLiteral("/not-a-directory");
             QFile notADirectory(homeOverride_);
             EXPECT_TRUE(notADirectory.open(QIODevice::WriteOnly));
             return file;
         },
         6, QStringLiteral("could not be backed up"), QStringLiteral("--no-backup"), "--no-backup", 0},
    };
    for (const auto& c : cases) {
        sim::PtyStationHost station(model);
        ASSERT_TRUE(station.start());
        const QString file = c.file();
        const int kept = backups().size();
        QStringList args{QStringLiteral("restore"), QStringLiteral("--port"), path(station)};
        if (!file.isEmpty()) args << file;

        const CliResult refused = run(args);
        EXPECT_EQ(refused.exitCode, c.status) << c.what << "\n" << refused.err();
        ASSERT_GE(refused.errLines.size(), 3) << c.what;
        const int n = static_cast<int>(refused.errLines.size());
        EXPECT_EQ(refused.errLines[n - 3], QStringLiteral("station address: 291")) << c.what;
        EXPECT_EQ(refused.errLines[n - 2], QStringLiteral("backup: no backup")) << c.what;
        EXPECT_TRUE(refused.lastErrLine().contains(c.outcome)) << c.what << "\n" << refused.err();
        EXPECT_TRUE(refused.lastErrLine().contains(QStringLiteral("nothing written"))) << c.what;
        if (!c.explanation.isEmpty()) {
            EXPECT_TRUE(refused.errLines.mid(0, n - 3).join('\n').contains(c.explanation))
                << c.what << "\n" << refused.err();
        }
        EXPECT_EQ(writesSeen(station), 0) << c.what;
        EXPECT_EQ(backups().size(), kept) << c.what;

        if (c.override) {
            const CliResult overridden = run(QStringList(args) << QLatin1String(c.override));
            EXPECT_EQ(overridden.exitCode, c.overriddenStatus) << c.what << "\n" << overridden.err();
            if (c.overriddenStatus != 0) {
                EXPECT_EQ(writesSeen(station), 0) << c.what;
            } else {
                ASSERT_TRUE(station.waitForRestarts(1, std::chrono::seconds(10))) << c.what;
                // The three regions come from the backup; every other byte stays the station's.
                const QByteArray saved = fileBytes(file.isEmpty() ? originalOf(291) : file);
                ASSERT_EQ(saved.size(), 256) << c.what;
                Bytes expected = present;
                for (int offset : {0x04, 0x0C, 0x80})
                    for (int i = 0; i < (offset == 0x04 ? 1 : 16); ++i)
                        expected[static_cast<std::size_t>(offset + i)] = static_cast<std::uint8_t>(saved[offset + i]);
                EXPECT_EQ(paramBlock(station.snapshot()), expected) << c.what;
                ASSERT_GE(overridden.errLines.size(), 2) << c.what;
                const QString backupLine = overridden.errLines[overridden.errLines.size() - 2];
                if (QLatin1String(c.override) == QLatin1String("--no-backup")) {
                    EXPECT_EQ(backupLine, QStringLiteral("backup: no backup")) << c.what;
                } else {
                    EXPECT_EQ(fileBytes(backupLine.mid(8)), asBytes(present))
                        << c.what << ": " << backupLine.toStdString();
                }
            }
        }
        homeOverride_.clear();
    }
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
        // The head was read before the signal: what the station was on.
        EXPECT_EQ(lines.back().address, 291);
        EXPECT_EQ(lines.back().systemBefore, 0x9E);
        EXPECT_EQ(lines.back().channelBefore, 500);
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

// The terminal closed while the station is written (a closed console on
// Windows, the same code): the run still reaches its restart, and with the
// ledger held by a spreadsheet its line goes to the pending file at once,
// well within the few seconds the system grants, not after the usual 3 s.
TEST_F(CliSafetyTest, AClosedTerminalDuringTheWritesPutsTheLineInThePendingFileAtOnce) {
    sim::PtyStationHost station;
    std::atomic<qint64> pid{0};
    std::atomic<bool> sent{false};
    station.setOnWrite([&](const sim::StationModel&) {
        if (!sent.exchange(true)) ::kill(static_cast<pid_t>(pid.load()), SIGHUP);
    });
    ASSERT_TRUE(station.start());
    ASSERT_TRUE(QDir().mkpath(logDir()));
    const QString ledgerFile = logDir() + QStringLiteral("/ledger.csv");
    const int held = ::open(QFile::encodeName(ledgerFile).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);

    auto process = start({QStringLiteral("program"), QStringLiteral("--port"), path(station)});
    pid = process->processId();
    ASSERT_TRUE(station.waitForRestarts(1, std::chrono::seconds(60)));
    QElapsedTimer clock;
    clock.start();
    const QString waiting = ledger::pendingPath(ledgerFile);
    while (!fileBytes(waiting).contains(",291,158,500,moved,0,") && clock.elapsed() < 10000)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_LT(clock.elapsed(), 1000) << "the line waited for the held ledger";
    const CliResult result = finish(*process);
    ::close(held);
    EXPECT_TRUE(sent.load());
    EXPECT_EQ(result.exitCode, 0) << result.err();
    EXPECT_TRUE(result.errContains(QStringLiteral("keep it connected"))) << result.err();
    EXPECT_TRUE(result.errContains(QStringLiteral("waits in"))) << result.err();
    EXPECT_EQ(station.snapshot().rom[0xC004], 0x3A);
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
