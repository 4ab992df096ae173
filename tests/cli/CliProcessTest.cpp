// rechannel-cli as a child process against simulated stations: exit
// statuses, standard-error lines, backups, restore, ports and diagnostics.
#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <chrono>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "CliFixture.h"
#include "VirtualPorts.h"

namespace {

class CliProcessTest : public CliFixture {
protected:
    // The restart gets no reply, so the CLI may have exited before the
    // station took it in: wait (bounded) for `count` restarts, then report
    // what the station counted.
    static int restartsAfter(const sim::PtyStationHost& host, int count) {
        EXPECT_TRUE(host.waitForRestarts(count, std::chrono::seconds(30))) << "fewer than " << count << " restarts";
        return host.snapshot().restarts;
    }
};

sim::StationModel stationWith(std::uint8_t system, std::uint16_t channel0) {
    sim::DefaultStationOptions options;
    options.system = system;
    options.channel0 = channel0;
    return sim::makeDefaultStation(options);
}

TEST_F(CliProcessTest, ProgramMovesTheSimulatedStationAndSavesABackupThatRestoreBringsBack) {
    sim::PtyStationHost station;
    ASSERT_TRUE(station.start());
    const std::vector<std::uint8_t> before = paramBlock(station.snapshot());

    const CliResult moved = run({QStringLiteral("program"), QStringLiteral("--port"), path(station)});
    EXPECT_EQ(moved.exitCode, 0);
    EXPECT_EQ(moved.lastErrLine(), QString::fromUtf8("Станция переведена на новую частоту!"));
    EXPECT_TRUE(moved.out.contains(QStringLiteral("New Params:")));
    EXPECT_EQ(station.snapshot().rom[0xC004], 0x3A);
    EXPECT_EQ(restartsAfter(station, 1), 1);

    const QStringList backups = QDir(logDir() + QStringLiteral("/backups")).entryList({QStringLiteral("*.bin")});
    ASSERT_EQ(backups.size(), 1);
    EXPECT_TRUE(backups.first().endsWith(QStringLiteral("_%1_158.bin").arg(before[2] | (before[3] << 8))))
        << backups.first().toStdString();
    QFile backup(logDir() + QStringLiteral("/backups/") + backups.first());
    ASSERT_TRUE(backup.open(QIODevice::ReadOnly));
    const QByteArray saved = backup.readAll();
    ASSERT_EQ(saved.size(), 256);
    EXPECT_TRUE(std::equal(before.begin(), before.end(), reinterpret_cast<const std::uint8_t*>(saved.constData())));

    const CliResult again = run({QStringLiteral("program"), QStringLiteral("--port"), path(station)});
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_EQ(again.lastErrLine(), QString::fromUtf8("Станция уже переведена на нужную частоту! (1000)"));

    const CliResult restored =
        run({QStringLiteral("restore"), QStringLiteral("--port"), path(station), backup.fileName()});
    EXPECT_EQ(restored.exitCode, 0) << restored.errLines.join('\n').toStdString();
    EXPECT_EQ(restartsAfter(station, 2), 2);
    EXPECT_EQ(paramBlock(station.snapshot()), before);
    EXPECT_TRUE(station.strayBytes().empty()) << "bytes sent outside request frames";
}

TEST_F(CliProcessTest, RestoreRefusesTheBackupOfAnotherStation) {
    sim::PtyStationHost station(stationWith(0x3A, 1902));
    ASSERT_TRUE(station.start());
    std::vector<std::uint8_t> other = paramBlock(station.snapshot());
    other[2] ^= 0x01;   // another address
    other[4] = 0x9E;
    QFile backup(home_.path() + QStringLiteral("/other.bin"));
    ASSERT_TRUE(backup.open(QIODevice::WriteOnly));
    backup.write(reinterpret_cast<const char*>(other.data()), static_cast<qint64>(other.size()));
    backup.close();

    const sim::StationModel before = station.snapshot();
    const CliResult refused = run({QStringLiteral("restore"), QStringLiteral("--port"), path(station), backup.fileName()});
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_TRUE(refused.errContains(QStringLiteral("nothing written"))) << refused.errLines.join('\n').toStdString();
    EXPECT_EQ(station.snapshot().rom, before.rom);
    for (const sim::WireFrame& f : station.frames()) {
        if (f.direction == sim::WireFrame::Direction::ToStation) {
            EXPECT_NE(f.bytes.at(2), 0x06) << "a write was sent";
        }
    }
}

TEST_F(CliProcessTest, ProgramSimulateRunsTheWholeJobWithoutHardware) {
    const CliResult result = run({QStringLiteral("program"), QStringLiteral("--simulate"), QStringLiteral("--wire-trace")});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.lastErrLine(), QString::fromUtf8("Станция переведена на новую частоту!"));
    EXPECT_TRUE(result.out.contains(QStringLiteral("--------ROM: 0xC000-------------")));
    EXPECT_TRUE(result.errContains(QStringLiteral("> DA 03 05 C0 00 10 44 E7"))) << "the first request on the wire";
    EXPECT_TRUE(result.errContains(QStringLiteral("> DA 00 DD B8 85"))) << "the restart, last";
    EXPECT_TRUE(result.errContains(QStringLiteral("< AD 10 00"))) << "the first reply";
}

TEST_F(CliProcessTest, StationsThatMustNotBeProgrammedGetTheirStatusAndNoWrite) {
    sim::PtyStationHost foreign(stationWith(0x00, 500));
    ASSERT_TRUE(foreign.start());
    const CliResult result = run({QStringLiteral("program"), QStringLiteral("--port"), path(foreign)});
    EXPECT_EQ(result.exitCode, 3);
    EXPECT_EQ(result.lastErrLine(), QString::fromUtf8("Утилита не предназначена для данной системы! (255)"));
    EXPECT_EQ(foreign.snapshot().rom[0xC004], 0x00);
    EXPECT_EQ(foreign.snapshot().restarts, 0);
}

// Once the station has acknowledged 0x3A it must get its restart, even when
// the read-back of the system code gets no answer; the outcome says so.
TEST_F(CliProcessTest, ASystemCodeThatCannotBeReadBackStillGetsItsRestart) {
    int systemCodeWrite = -1;   // the exchange that writes 0xC004 in a normal run
    {
        sim::PtyStationHost station;
        ASSERT_TRUE(station.start());
        ASSERT_EQ(run({QStringLiteral("program"), QStringLiteral("--port"), path(station)}).exitCode, 0);
        int exchange = 0;
        for (const sim::WireFrame& f : station.frames()) {
            if (f.direction != sim::WireFrame::Direction::ToStation) continue;
            if (f.bytes.at(2) == 0x06 && (f.bytes.at(3) << 8 | f.bytes.at(4)) == 0xC004) systemCodeWrite = exchange;
            ++exchange;
        }
        ASSERT_GE(systemCodeWrite, 0);
    }
    sim::PtyStationHost station;
    sim::FaultScript faults;
    faults.at(systemCodeWrite + 1, sim::Fault::noReply());   // the read-back and its retry
    faults.at(systemCodeWrite + 2, sim::Fault::noReply());
    station.setFaults(faults);
    ASSERT_TRUE(station.start());

    const CliResult result = run({QStringLiteral("program"), QStringLiteral("--port"), path(station)});
    EXPECT_EQ(result.exitCode, 7) << result.errLines.join('\n').toStdString();
    EXPECT_TRUE(result.lastErrLine().contains(QStringLiteral("could not be read back"))) << result.lastErrLine().toStdString();
    EXPECT_EQ(station.snapshot().rom[0xC004], 0x3A);
    EXPECT_EQ(restartsAfter(station, 1), 1) << "the station was left at 0x3A without its restart";
}

TEST_F(CliProcessTest, VerifyIsOnByDefaultAndStopsAStationThatKeepsNoWritesBeforeItsSystemCode) {
    {
        sim::PtyStationHost station;
        ASSERT_TRUE(station.start());
        const CliResult result = run({QStringLiteral("program"), QStringLiteral("--port"), path(station)});
        EXPECT_EQ(result.exitCode, 0) << result.errLines.join('\n').toStdString();
        EXPECT_EQ(result.lastErrLine(), QString::fromUtf8("Станция переведена на новую частоту!"));
        EXPECT_FALSE(result.errContains(QStringLiteral("read back"))) << result.errLines.join('\n').toStdString();
        EXPECT_EQ(restartsAfter(station, 1), 1);
    }

    sim::PtyStationHost station;
    sim::FaultScript faults;
    faults.always(sim::Fault::ignoreWrite());
    station.setFaults(faults);
    ASSERT_TRUE(station.start());

    const CliResult result = run({QStringLiteral("program"), QStringLiteral("--port"), path(station)});
    EXPECT_EQ(result.exitCode, 7);
    EXPECT_TRUE(result.errContains(QStringLiteral("0xC00C"))) << result.errLines.join('\n').toStdString();
    EXPECT_TRUE(result.errContains(QStringLiteral("0xC080"))) << "block 0 is read back too";
    EXPECT_FALSE(result.errContains(QStringLiteral("0xC004"))) << "the system code is never sent";
    EXPECT_EQ(result.lastErrLine(),
              QStringLiteral("verify failed, the station stays on its old system; run program again (8)"));
    EXPECT_EQ(station.snapshot().restarts, 0) << "no restart after a failed check";
    for (const sim::WireFrame& f : station.frames()) {
        if (f.direction == sim::WireFrame::Direction::ToStation && f.bytes.at(2) == 0x06) {
            EXPECT_NE(f.bytes.at(3) << 8 | f.bytes.at(4), 0xC004) << "the system code write was sent";
        }
    }
}

TEST_F(CliProcessTest, UnopenablePortsSayWhyWithTheFix) {
    const CliResult missing = run({QStringLiteral("program"), QStringLiteral("--port"), QStringLiteral("/dev/ttyNOSUCH9")});
    EXPECT_EQ(missing.exitCode, 4);
    EXPECT_EQ(missing.lastErrLine(), QString::fromUtf8("Невозможно открыть COM-порт. (1)"));
    EXPECT_TRUE(missing.errContains(QStringLiteral("no such device")));

    sim::PtyStationHost station;
    ASSERT_TRUE(station.start());
    const int holder = ::open(station.slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    const CliResult busy = run({QStringLiteral("program"), QStringLiteral("--port"), path(station)});
    ::close(holder);
    EXPECT_EQ(busy.exitCode, 4);
    EXPECT_TRUE(busy.errContains(QStringLiteral("busy"))) << busy.errLines.join('\n').toStdString();
}

TEST_F(CliProcessTest, ASilentStationIsNoProperAnswer) {
    sim::PtyStationHost station;
    sim::FaultScript faults;
    faults.powerLostFrom(0);
    station.setFaults(faults);
    ASSERT_TRUE(station.start());
    const CliResult result = run({QStringLiteral("program"), QStringLiteral("--port"), path(station)});
    EXPECT_EQ(result.exitCode, 5);
    EXPECT_EQ(result.lastErrLine(), QString::fromUtf8("Нет ответа от Станции. (-1)"));
    EXPECT_TRUE(result.out.isEmpty()) << "nothing traced before the first read answered";
}

TEST_F(CliProcessTest, UsageErrorsExitWithTwo) {
    EXPECT_EQ(run({}).exitCode, 2);
    EXPECT_EQ(run({QStringLiteral("melt")}).exitCode, 2);
    EXPECT_EQ(run({QStringLiteral("program")}).exitCode, 2);
    EXPECT_EQ(run({QStringLiteral("program"), QStringLiteral("--port"), QStringLiteral("/x"), QStringLiteral("--simulate")}).exitCode, 2);
    EXPECT_EQ(run({QStringLiteral("program"), QStringLiteral("--port"), QString()}).exitCode, 2);
    EXPECT_EQ(run({QStringLiteral("status")}).exitCode, 2);
    EXPECT_EQ(run({QStringLiteral("sniff"), QStringLiteral("--port"), QStringLiteral("/x"), QStringLiteral("--interval"), QStringLiteral("0")}).exitCode, 2);
    EXPECT_EQ(run({QStringLiteral("simulate"), QStringLiteral("--fault"), QStringLiteral("melt")}).exitCode, 2);
    EXPECT_EQ(run({QStringLiteral("simulate"), QStringLiteral("--range"), QStringLiteral("300")}).exitCode, 2);
    const CliResult programHelp = run({QStringLiteral("program"), QStringLiteral("--help")});
    EXPECT_EQ(programHelp.exitCode, 0);
    EXPECT_TRUE(programHelp.out.startsWith(QStringLiteral("Usage: rechannel-cli program [options]"))) << programHelp.out.toStdString();
    EXPECT_EQ(run({QStringLiteral("--help")}).exitCode, 0);
    const CliResult version = run({QStringLiteral("--version")});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_TRUE(version.out.startsWith(QStringLiteral("rechannel-cli ") + QStringLiteral(RECHANNEL_VERSION))) << version.out.toStdString();

    // A backup is exactly one 256-byte parameter block; one byte short or over is refused before the port is tried.
    for (int size : {255, 257}) {
        QFile wrongSize(home_.path() + QStringLiteral("/%1.bin").arg(size));
        ASSERT_TRUE(wrongSize.open(QIODevice::WriteOnly));
        wrongSize.write(QByteArray(size, '\0'));
        wrongSize.close();
        const CliResult refused =
            run({QStringLiteral("restore"), QStringLiteral("--port"), QStringLiteral("/x"), wrongSize.fileName()});
        EXPECT_EQ(refused.exitCode, 2) << size;
        EXPECT_TRUE(refused.errContains(QStringLiteral("not a station backup"))) << size;
    }
}

TEST_F(CliProcessTest, SniffOptionsOutOfRangeAreUsageErrors) {
    const struct {
        const char* option;
        const char* value;
        const char* message;
    } cases[] = {
        {"--interval", "3600001", "--interval takes 1 to 3600000 ms"},
        {"--duration", "-1", "--duration takes 0 to 864000 s"},
        {"--status-every", "0", "--status-every takes 1 to 86400 s"},
        {"--max-failures", "x", "--max-failures takes 1 to 1000000"},
    };
    for (const auto& c : cases) {
        const CliResult refused = run({QStringLiteral("sniff"), QStringLiteral("--port"), QStringLiteral("/x"),
                                       QLatin1String(c.option), QLatin1String(c.value)});
        EXPECT_EQ(refused.exitCode, 2) << c.option;
        EXPECT_TRUE(refused.errContains(QLatin1String(c.message))) << c.option << ": " << refused.err();
    }
}

TEST_F(CliProcessTest, PortsListsPublishedStationsAndMarksThePreselectedOne) {
    sim::PtyStationHost station;
    ASSERT_TRUE(station.start());
    qputenv("XDG_RUNTIME_DIR", home_.runtimePath().toUtf8());
    ASSERT_TRUE(publishVirtualPort("TUSB simulated station", station.slavePath()));
    const CliResult result = run({QStringLiteral("ports")});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_TRUE(result.out.contains(QStringLiteral("* %1\tTUSB simulated station\t").arg(path(station))))
        << result.out.toStdString();
    unpublishVirtualPort("TUSB simulated station", station.slavePath());
}

TEST_F(CliProcessTest, DiagnosticsPrintTheirValuesAndWriteTheStationFiles) {
    sim::PtyStationHost station;
    ASSERT_TRUE(station.start());
    const std::uint16_t address = station.snapshot().rom16(0xC002);

    const CliResult status = run({QStringLiteral("status"), QStringLiteral("--port"), path(station)});
    EXPECT_EQ(status.exitCode, 0) << status.errLines.join('\n').toStdString();
    EXPECT_TRUE(status.out.contains(QStringLiteral("isConnect: ")));
    EXPECT_TRUE(status.out.contains(QStringLiteral("snr: -")));
    const QString stationFile = logDir() + QStringLiteral("/%1.xml").arg(address);
    ASSERT_TRUE(QFile::exists(stationFile));
    QFile xml(stationFile);
    ASSERT_TRUE(xml.open(QIODevice::ReadOnly));
    EXPECT_TRUE(xml.readAll().contains("<status vec="));

    station.withModel([](sim::StationModel& model) { model.setRouteRow(77, 2, 200); });
    const CliResult routes = run({QStringLiteral("routes"), QStringLiteral("--port"), path(station)}, 180000);
    EXPECT_EQ(routes.exitCode, 0) << routes.errLines.join('\n').toStdString();
    EXPECT_TRUE(routes.out.contains(QStringLiteral("\n77\t2\t200\t"))) << routes.out.toStdString();

    const CliResult sniff = run({QStringLiteral("sniff"), QStringLiteral("--port"), path(station), QStringLiteral("--interval"),
                                 QStringLiteral("50"), QStringLiteral("--duration"), QStringLiteral("1")});
    EXPECT_EQ(sniff.exitCode, 0) << sniff.errLines.join('\n').toStdString();
}

TEST_F(CliProcessTest, DiagnosticsReportAnUnopenablePortAndASilentStation) {
    sim::PtyStationHost silent;
    sim::FaultScript faults;
    faults.powerLostFrom(0);
    silent.setFaults(faults);
    ASSERT_TRUE(silent.start());
    const QString missing = QStringLiteral("/dev/ttyNOSUCH9");

    const struct {
        QString port;
        int exitCode;
        const char* lastLine;
    } cases[] = {
        {missing, 4, "Невозможно открыть COM-порт. (1)"},
        {path(silent), 5, "Нет ответа от Станции. (-1)"},
    };
    // sniff is bounded so that a run which wrongly got through still ends.
    const QList<QStringList> commands = {
        {QStringLiteral("status")},
        {QStringLiteral("routes")},
        {QStringLiteral("sniff"), QStringLiteral("--duration"), QStringLiteral("1")},
    };
    for (const auto& c : cases) {
        for (const QStringList& command : commands) {
            const CliResult result = run(command + QStringList{QStringLiteral("--port"), c.port});
            const std::string what = (command.first() + QLatin1Char(' ') + c.port).toStdString() + "\n" +
                                     result.errLines.join('\n').toStdString();
            EXPECT_EQ(result.exitCode, c.exitCode) << what;
            EXPECT_EQ(result.lastErrLine(), QString::fromUtf8(c.lastLine)) << what;
            if (c.port == missing) {
                ASSERT_GE(result.errLines.size(), 2) << what;
                const QString explanation = result.errLines[result.errLines.size() - 2];
                EXPECT_TRUE(explanation.contains(QStringLiteral("no such device")) && explanation.contains(missing)) << what;
            }
        }
    }
}

TEST_F(CliProcessTest, SimulatePublishesItsPortAndRemovesItOnTerminate) {
    // With --count the names are numbered, even for one station.
    const struct {
        QStringList options;
        const char* link;
    } cases[] = {{{}, "bench station"}, {{QStringLiteral("--count"), QStringLiteral("1")}, "bench station 1"}};
    for (const auto& c : cases) {
        QProcess simulator;
        simulator.setProcessEnvironment(environment());
        simulator.start(QStringLiteral(RECHANNEL_CLI_PATH),
                        QStringList{QStringLiteral("simulate"), QStringLiteral("--publish"), QStringLiteral("bench station"),
                                    QStringLiteral("--system"), QStringLiteral("0x3A"), QStringLiteral("--channel"),
                                    QStringLiteral("1902")} + c.options);
        ASSERT_TRUE(simulator.waitForStarted(10000));
        ASSERT_TRUE(simulator.waitForReadyRead(10000));
        const QString slave = QString::fromUtf8(simulator.readLine()).trimmed();
        const QString link = home_.runtimePath() + QStringLiteral("/rechannel-ports/") + QLatin1String(c.link);
        EXPECT_EQ(QFileInfo(link).symLinkTarget(), slave) << c.link;

        const CliResult moved = run({QStringLiteral("program"), QStringLiteral("--port"), slave});
        EXPECT_EQ(moved.exitCode, 1) << "a 0x3A station on 1902 is already moved";

        simulator.terminate();
        ASSERT_TRUE(simulator.waitForFinished(10000));
        EXPECT_EQ(simulator.exitCode(), 0);
        EXPECT_FALSE(QFileInfo(link).isSymLink()) << "the link is removed on exit";
    }
}

}  // namespace
