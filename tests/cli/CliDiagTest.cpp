// The diagnostics commands as child processes against simulated stations,
// over sessions: what they keep of the station file, the noise column, link
// failures during a sniff, interrupted sweeps and station files that cannot
// be read or saved.
#include <QDate>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRegularExpression>
#include <csignal>
#include <functional>
#include <sys/resource.h>
#include <sys/stat.h>

#include "CliFixture.h"
#include "JobMessages.h"

namespace {

constexpr std::uint16_t kAddress = 0x0123;   // the simulated station's own address
constexpr int kParent = 0x45;
constexpr std::uint32_t kStatusByte = 0x0862;     // the first of the status read's requests
constexpr std::uint32_t kSnifferRing = 0x0CA6;    // the sniffer read's one request
constexpr std::uint32_t kParentAddress = 0x0274;

// The short poll options of a sniff session.
QStringList sniffFor(const char* seconds, QStringList more = {}) {
    return QStringList{QStringLiteral("--interval"), QStringLiteral("20"), QStringLiteral("--duration"),
                       QLatin1String(seconds)} +
           more;
}

// Requests of 16-bit memory reads (command 0x05) at `address`.
int readsAt(const sim::PtyStationHost& host, std::uint32_t address) {
    int n = 0;
    for (const sim::WireFrame& f : host.frames())
        n += f.direction == sim::WireFrame::Direction::ToStation && f.bytes.size() > 5 && f.bytes[2] == 0x05 &&
             f.bytes[3] == (address >> 8) && f.bytes[4] == (address & 0xFF);
    return n;
}

class CliDiagTest : public CliFixture {
protected:
    QStringList command(const char* name, const sim::PtyStationHost& host, QStringList more = {}) const {
        return QStringList{QLatin1String(name), QStringLiteral("--port"), path(host)} + more;
    }

    QString stationFile() const { return logDir() + QStringLiteral("/%1.xml").arg(kAddress); }

    // A sniff session ended with Ctrl-C once the station has seen what
    // `done` waits for: as many polls on a loaded machine as on an idle one.
    CliResult sniffUntil(const sim::PtyStationHost& station, const std::function<bool()>& done, QStringList more = {}) {
        auto process = start(command("sniff", station, sniffFor("600", std::move(more))));
        QElapsedTimer timer;
        timer.start();
        // Each pass waits for the next frame; done() is what is asserted.
        while (!done() && process->state() == QProcess::Running && timer.elapsed() < 120000)
            static_cast<void>(station.waitForFrames(station.frames().size() + 1, std::chrono::seconds(1)));
        EXPECT_TRUE(done()) << "the station was not polled as far as the test needs";
        ::kill(static_cast<pid_t>(process->processId()), SIGINT);
        return finish(*process);
    }
    CliResult sniffPolls(const sim::PtyStationHost& station, int polls) {
        const int target = readsAt(station, kSnifferRing) + polls;
        return sniffUntil(station, [&] { return readsAt(station, kSnifferRing) >= target; });
    }
    QByteArray stationXml() const { return fileBytes(stationFile()); }
    void writeStationFile(const QByteArray& bytes) const {
        QFile f(stationFile());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(f.write(bytes), bytes.size());
    }
    // An earlier session's file: a head from before the move, a neighbour
    // the station no longer hears, and the parent's counted history.
    static QByteArray earlierSession() {
        return "<Station time=\"01.01.20 00:00:00\">\r\n"
               "\t<param address=\"291\" system=\"158\" version=\"1\" frange=\"1\" freq_channe=\"500\" cps=\"0\" "
               "timeouts=\"0\" device=\"0\" />\r\n"
               "\t<status vec=\"0\" isConnect=\"false\" parent_addr=\"0\" quality=\"0\" snr=\"-100\" />\r\n"
               "\t<ostable>\r\n"
               "\t\t<os address=\"5\" time=\"02.01.20 10:00:00\" quality=\"1\" count=\"100\" snr=\"50\" average_snr=\"45\" />\r\n"
               "\t\t<os address=\"69\" time=\"02.01.20 10:00:00\" quality=\"1\" count=\"7\" snr=\"40\" average_snr=\"40\" />\r\n"
               "\t\t<os address=\"77\" time=\"03.01.20 11:00:00\" quality=\"3\" count=\"9\" snr=\"20\" average_snr=\"33.5\" />\r\n"
               "\t</ostable>\r\n</Station>\r\n";
    }
    void writeEarlierSession() const { writeStationFile(earlierSession()); }
};

sim::StationModel movedStation() {
    sim::DefaultStationOptions options;
    options.system = 0x3A;
    options.channel0 = 1902;
    return sim::makeDefaultStation(options);
}

TEST_F(CliDiagTest, EachCommandKeepsTheHistoryAndRefreshesTheHead) {
    for (const char* name : {"status", "routes", "sniff"}) {
        SCOPED_TRACE(name);
        sim::PtyStationHost station(movedStation());
        ASSERT_TRUE(station.start());
        writeEarlierSession();
        const QStringList extra = QLatin1String(name) == QLatin1String("sniff") ? sniffFor("1") : QStringList{};
        const CliResult result = run(command(name, station, extra), 180000);
        ASSERT_EQ(result.exitCode, 0) << result.err();
        const QByteArray xml = stationXml();
        EXPECT_TRUE(xml.contains("<param address=\"291\" system=\"58\" version=\"513\" frange=\"1\" freq_channe=\"1902\"")) << xml.constData();
        EXPECT_FALSE(xml.contains("time=\"01.01.20 00:00:00\"")) << "the head's time is refreshed";
        // Status writes only a changed status; every command keeps the
        // route history of the earlier session.
        EXPECT_TRUE(xml.contains("<os address=\"5\" time=\"02.01.20 10:00:00\" quality=\"1\" count=\"100\"")) << xml.constData();
    }
}

TEST_F(CliDiagTest, RoutesPrintsAndStoresTheSweepMergedWithTheHistory) {
    sim::PtyStationHost station(movedStation());
    ASSERT_TRUE(station.start());
    station.withModel([](sim::StationModel& m) { m.setRouteRow(77, 2, 200); });
    writeEarlierSession();
    const CliResult first = run(command("routes", station), 180000);
    ASSERT_EQ(first.exitCode, 0) << first.err();
    EXPECT_TRUE(first.out.startsWith(
        QStringLiteral("address\tquality\tsnr (raw level 0..255)\tcount\taverage_snr (raw level 0..255)\ttime\n")));
    EXPECT_TRUE(first.out.contains(QStringLiteral("\n77\t2\t200\t9\t33.5\t03.01.20 11:00:00\n"))) << first.out.toStdString();
    EXPECT_TRUE(stationXml().contains("<os address=\"77\" time=\"03.01.20 11:00:00\" quality=\"2\" count=\"9\" snr=\"200\" "
                                      "average_snr=\"33.5\" />"));
    EXPECT_TRUE(stationXml().contains("<os address=\"8191\" time=\"\" quality=\"2\" count=\"0\" snr=\"200\""));

    // A second sweep: 77 is no longer heard, 90 is new. The file and the
    // listing keep 77 as the first sweep left it, beside 90.
    station.withModel([](sim::StationModel& m) {
        m.setRouteRow(77, 0, 0);
        m.setRouteRow(90, 3, 15);
    });
    const CliResult second = run(command("routes", station), 180000);
    ASSERT_EQ(second.exitCode, 0) << second.err();
    EXPECT_TRUE(second.out.contains(QStringLiteral("\n77\t2\t200\t9\t33.5\t03.01.20 11:00:00\n"))) << second.out.toStdString();
    EXPECT_TRUE(second.out.contains(QStringLiteral("\n90\t3\t15\t0\t0\t\n"))) << second.out.toStdString();
    const QByteArray xml = stationXml();
    EXPECT_TRUE(xml.contains("<os address=\"77\" time=\"03.01.20 11:00:00\" quality=\"2\" count=\"9\" snr=\"200\"")) << xml.constData();
    EXPECT_TRUE(xml.contains("<os address=\"90\" time=\"\" quality=\"3\" count=\"0\" snr=\"15\"")) << xml.constData();
    EXPECT_TRUE(xml.contains("<os address=\"5\" time=\"02.01.20 10:00:00\" quality=\"1\" count=\"100\"")) << xml.constData();
}

// Ctrl-C, a termination request and a closed terminal each end the sweep
// between two calls; what was read is stored.
TEST_F(CliDiagTest, AnInterruptedSweepStoresWhatWasRead) {
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal);
        QFile::remove(stationFile());
        sim::PtyStationHost station(movedStation());
        station.withModel([](sim::StationModel& m) {
            m.setRouteRow(10, 2, 30);     // block 2: read before the station goes silent
            m.setRouteRow(5000, 2, 30);   // block 1250: never reached
        });
        sim::FaultScript faults;
        faults.powerLostFrom(100);   // the head, then blocks 0 to 98
        station.setFaults(faults);
        ASSERT_TRUE(station.start());
        const std::unique_ptr<QProcess> process = start(command("routes", station));
        // 100 answered exchanges and the first unanswered request.
        ASSERT_TRUE(station.waitForFrames(201, std::chrono::seconds(60)));
        ::kill(static_cast<pid_t>(process->processId()), signal);
        const CliResult result = finish(*process);
        EXPECT_EQ(result.exitCode, 130);
        EXPECT_TRUE(result.errContains(QStringLiteral("interrupted after 99 of 2048 blocks"))) << result.err();
        const QByteArray xml = stationXml();
        EXPECT_TRUE(xml.contains("<os address=\"10\" time=\"\" quality=\"2\" count=\"0\" snr=\"30\"")) << xml.constData();
        EXPECT_FALSE(xml.contains("address=\"5000\""));
    }
}

TEST_F(CliDiagTest, SniffCountsEachPacketOnceAcrossSessionsOnTopOfTheFile) {
    sim::PtyStationHost station(movedStation());
    ASSERT_TRUE(station.start());
    writeEarlierSession();
    const QString mark = logDir() + QStringLiteral("/%1.sniff").arg(kAddress);
    // The ring's newest packet (3, from the parent) is counted by the first
    // session only, on top of the file's 7; a packet that arrives later by
    // the next session that sees it.
    const struct {
        int newPacketSignal;   // 0: no new packet before the session
        const char* line;      // the one CSV line the session prints, or none
        int count;
    } sessions[] = {{0, ",69,65535,HELLO,1,41,-80", 8}, {0, nullptr, 8}, {30, ",69,291,HELLO,4,30,-80", 9}};
    std::uint8_t seq = 4;
    for (const auto& session : sessions) {
        if (session.newPacketSignal)
            station.withModel([&](sim::StationModel& m) {
                m.pushSnifferPacket({seq++, 0x3A, kParent, kAddress, static_cast<std::uint8_t>(session.newPacketSignal), 0x3, 0x3});
            });
        const CliResult result = sniffPolls(station, 3);
        ASSERT_EQ(result.exitCode, 0) << result.err();
        const QString expected = session.line ? QStringLiteral("^\\d\\d:\\d\\d:\\d\\d%1\\n$").arg(QLatin1String(session.line))
                                              : QStringLiteral("^$");
        EXPECT_TRUE(QRegularExpression(expected).match(result.out).hasMatch()) << result.out.toStdString();
        const QRegularExpression parent(QStringLiteral("<os address=\"69\"[^>]* count=\"%1\" ").arg(session.count));
        EXPECT_TRUE(parent.match(QString::fromUtf8(stationXml())).hasMatch()) << stationXml().constData();
        EXPECT_TRUE(fileBytes(mark).startsWith("last_packet=")) << "kept beside the station file";
    }
    EXPECT_FALSE(stationXml().contains("last_packet")) << "the station file's format stays";
}

TEST_F(CliDiagTest, SniffReadsTheStatusAgainEveryStatusEverySeconds) {
    sim::PtyStationHost station(movedStation());
    ASSERT_TRUE(station.start());
    QElapsedTimer clock;
    clock.start();
    const std::unique_ptr<QProcess> process =
        start(command("sniff", station, {QStringLiteral("--interval"), QStringLiteral("20"), QStringLiteral("--status-every"),
                                         QStringLiteral("1"), QStringLiteral("--duration"), QStringLiteral("60")}));
    ASSERT_TRUE(process->waitForReadyRead(30000));
    EXPECT_TRUE(process->readLine().trimmed().endsWith(",-80")) << "the level read at the start";
    // The station's level rises to raw 200 (-30 dB); packets keep coming
    // until a line carries it.
    station.withModel([](sim::StationModel& m) { m.ram[0x0B04] = 200; });
    bool seen = false;
    for (int seq = 4; seq < 200 && !seen; ++seq) {
        station.withModel([seq](sim::StationModel& m) {
            m.pushSnifferPacket({static_cast<std::uint8_t>(seq), 0x3A, kParent, kAddress, 40, 0x3, 0x3});
        });
        while (!process->canReadLine()) ASSERT_TRUE(process->waitForReadyRead(30000));
        const QByteArray line = process->readLine().trimmed();
        ASSERT_TRUE(line.endsWith(",-80") || line.endsWith(",-30")) << line.constData();
        seen = line.endsWith(",-30");
    }
    EXPECT_TRUE(seen);
    process->terminate();
    ASSERT_TRUE(process->waitForFinished(30000));
    EXPECT_EQ(process->exitCode(), 0);
    // Once at the start and then once a second at most, never with every
    // ring read: the process lived no longer than this clock ran.
    const int statusReads = readsAt(station, kStatusByte);
    EXPECT_GE(statusReads, 2);
    EXPECT_LE(statusReads, 1 + clock.elapsed() / 1000) << readsAt(station, kSnifferRing) << " ring reads";
}

// A status that cannot be read (the parent's route row lies outside the
// station's memory) neither stops the ring nor counts as a failed poll; it
// is tried again on its own schedule.
TEST_F(CliDiagTest, AFailingStatusReadLeavesTheRingFollowed) {
    sim::PtyStationHost station(movedStation());
    station.withModel([](sim::StationModel& m) { m.setRam16(kParentAddress, 0xFFFF); });
    ASSERT_TRUE(station.start());
    writeEarlierSession();
    QElapsedTimer clock;
    clock.start();
    // Two status reads (a second apart) and the ring followed in between.
    const CliResult result = sniffUntil(
        station, [&] { return readsAt(station, kStatusByte) >= 2 && readsAt(station, kSnifferRing) >= 3; },
        {QStringLiteral("--status-every"), QStringLiteral("1"), QStringLiteral("--max-failures"), QStringLiteral("1")});
    const qint64 elapsedMs = clock.elapsed();
    EXPECT_EQ(result.exitCode, 0) << result.err();
    EXPECT_TRUE(result.out.contains(QStringLiteral(",69,65535,HELLO,1,41,-100\n"))) << "the file's level: " << result.out.toStdString();
    EXPECT_FALSE(result.errContains(QStringLiteral("poll failed"))) << result.err();
    const int statusReads = readsAt(station, kStatusByte);
    EXPECT_GE(statusReads, 2);
    EXPECT_LE(statusReads, 1 + elapsedMs / 1000);
    EXPECT_GT(readsAt(station, kSnifferRing), statusReads);
    for (int n = 1; n <= statusReads; ++n)
        EXPECT_TRUE(result.errContains(
            QStringLiteral("status read failed (%1 so far; the noise column keeps -100 dB): Нет ответа от Станции. (-2)").arg(n)))
            << result.err();
}

TEST_F(CliDiagTest, SniffRidesOutFailedPollsAndEndsAfterMaxFailuresInARow) {
    // Exchanges: the head, five status reads, the first ring read; then
    // two polls refused (both attempts each), and later a silent station.
    sim::PtyStationHost station(movedStation());
    sim::FaultScript faults;
    for (int exchange : {7, 8, 9, 10}) faults.at(exchange, sim::Fault::withStatus(1));
    faults.powerLostFrom(20);
    station.setFaults(faults);
    ASSERT_TRUE(station.start());
    const CliResult result = run(command("sniff", station, {QStringLiteral("--interval"), QStringLiteral("1"),
                                                            QStringLiteral("--max-failures"), QStringLiteral("3")}));
    EXPECT_EQ(result.exitCode, 5);
    const QStringList expected = {
        QStringLiteral("poll failed (1 of 3 in a row): Нет ответа от Станции. (-2)"),
        QStringLiteral("poll failed (2 of 3 in a row): Нет ответа от Станции. (-2)"),
        QStringLiteral("poll failed (1 of 3 in a row): Нет ответа от Станции. (-1)"),
        QStringLiteral("poll failed (2 of 3 in a row): Нет ответа от Станции. (-1)"),
        QStringLiteral("poll failed (3 of 3 in a row): Нет ответа от Станции. (-1)"),
        QStringLiteral("Нет ответа от Станции. (-1)"),
    };
    EXPECT_EQ(result.errLines.mid(1), expected) << result.err();
    // Between the refusals and the silence the ring was still followed.
    EXPECT_TRUE(result.out.contains(QStringLiteral(",69,65535,HELLO,1,41,-80\n")));

    // Without --max-failures, ten failed polls in a row end the sniff. (A
    // station that refuses every read from the second ring read on: a silent
    // one would take the link's time-out twenty times.)
    sim::PtyStationHost refusing(movedStation());
    sim::FaultScript refusals;
    for (int exchange = 7; exchange < 40; ++exchange) refusals.at(exchange, sim::Fault::withStatus(1));
    refusing.setFaults(refusals);
    ASSERT_TRUE(refusing.start());
    const CliResult ended = run(command("sniff", refusing, {QStringLiteral("--interval"), QStringLiteral("1")}));
    EXPECT_EQ(ended.exitCode, 5);
    ASSERT_GE(ended.errLines.size(), 2) << ended.err();
    EXPECT_EQ(ended.errLines[ended.errLines.size() - 2],
              QStringLiteral("poll failed (10 of 10 in a row): Нет ответа от Станции. (-2)"));
    EXPECT_EQ(ended.lastErrLine(), QStringLiteral("Нет ответа от Станции. (-2)"));
    EXPECT_EQ(readsAt(refusing, kSnifferRing), 1 + 10 * 2) << "one read answered, ten polls of two attempts";
}

// A station file that is there but does not load is said once and left
// as it is, whichever command runs; the station is read all the same.
// An adapter pulled out during a sweep or a sniff ends the command at once
// as a lost port (exit status 4), not as a silent station after its retries.
TEST_F(CliDiagTest, AnAdapterPulledOutEndsASweepOrASniffAtOnceAsALostPort) {
    for (const char* name : {"routes", "sniff"}) {
        sim::PtyStationHost station;
        ASSERT_TRUE(station.start());
        const bool sniff = QLatin1String(name) == QLatin1String("sniff");
        auto process = start(command(name, station, sniff ? sniffFor("600", {QStringLiteral("--max-failures"), QStringLiteral("1000")}) : QStringList{}));
        // Pulled out once the command is at work on the station.
        ASSERT_TRUE(station.waitForFrames(6, std::chrono::seconds(30))) << name;
        station.stop();
        const CliResult result = finish(*process);
        EXPECT_EQ(result.exitCode, 4) << name << ": " << result.err();
        EXPECT_TRUE(result.errContains(job_messages::portLost())) << name << ": " << result.err();
    }
}

TEST_F(CliDiagTest, AStationFileThatDoesNotLoadIsSaidOnceAndLeftAlone) {
    const QByteArray truncated = earlierSession().left(earlierSession().indexOf("count=\"7\""));
    ASSERT_TRUE(truncated.contains("count=\"100\""));
    const struct {
        const char* what;
        std::function<void()> make;
        const char* problem;
    } files[] = {
        {"truncated", [&] { writeStationFile(truncated); }, "is not well-formed XML ("},
        {"FIFO", [&] { ASSERT_EQ(::mkfifo(QFile::encodeName(stationFile()).constData(), 0600), 0); },
         "is a FIFO or device, not a regular file"},
        {"directory", [&] { ASSERT_TRUE(QDir().mkdir(stationFile())); }, "is a directory, not a regular file"},
    };
    for (const auto& file : files) {
        for (const char* name : {"status", "sniff", "routes"}) {
            SCOPED_TRACE(std::string(file.what) + " " + name);
            sim::PtyStationHost station(movedStation());
            ASSERT_TRUE(station.start());
            file.make();
            // Read only while a regular file: opening a FIFO would wait for a writer.
            const auto contents = [&] {
                const QFileInfo info(stationFile());
                if (info.isFile()) return stationXml();
                return QByteArray(info.isDir() ? "a directory" : info.exists() ? "a FIFO" : "nothing");
            };
            const QByteArray before = contents();
            const bool sniff = QLatin1String(name) == QLatin1String("sniff");
            const CliResult result = sniff ? sniffPolls(station, 3) : run(command(name, station), 180000);
            EXPECT_EQ(result.exitCode, 0) << result.err();
            const QString said = QStringLiteral("rechannel-cli: %1 %2").arg(stationFile(), QLatin1String(file.problem));
            const QStringList problems = result.errLines.filter(stationFile());
            ASSERT_EQ(problems.size(), 1) << result.err();
            EXPECT_TRUE(problems.first().startsWith(said)) << result.err();
            EXPECT_TRUE(problems.first().endsWith(QStringLiteral(": left alone, and no station file is written in this "
                                                                 "session; move it aside to start a new one")))
                << result.err();
            EXPECT_EQ(contents(), before);
            EXPECT_FALSE(result.out.isEmpty()) << "the station was read";
            if (sniff) {
                const QString report = logDir() + QStringLiteral("/%1_%2[58].log")
                                                      .arg(QDate::currentDate().toString(QStringLiteral("yyMMdd")))
                                                      .arg(kAddress);
                EXPECT_TRUE(fileBytes(report).contains(",69,65535,HELLO,1,41,-80\r\n")) << "the report lines go on";
            }
            // The next round is a station met for the first time.
            QFile::remove(stationFile());
            QDir().rmdir(stationFile());
            QFile::remove(logDir() + QStringLiteral("/%1.sniff").arg(kAddress));
        }
    }
}

// A save that fails (here a file size limit, as on a full disk) is said
// once, however many saves the session tries; the old file stays.
TEST_F(CliDiagTest, AFailedSaveIsSaidOnce) {
    sim::PtyStationHost station(movedStation());
    ASSERT_TRUE(station.start());
    writeEarlierSession();
    QProcess process;
    process.setProcessEnvironment(environment());
    process.setWorkingDirectory(home_.path());
    process.setChildProcessModifier([] {
        std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit small {};
        small.rlim_cur = small.rlim_max = 64;
        setrlimit(RLIMIT_FSIZE, &small);
    });
    process.start(QStringLiteral(RECHANNEL_CLI_PATH), command("sniff", station, sniffFor("1")));
    ASSERT_TRUE(process.waitForStarted(10000));
    const CliResult result = finish(process);
    EXPECT_EQ(result.exitCode, 0) << result.err();
    const QStringList problems = result.errLines.filter(stationFile());
    ASSERT_EQ(problems.size(), 1) << result.err();
    EXPECT_TRUE(problems.first().startsWith(QStringLiteral("rechannel-cli: %1 not saved: ").arg(stationFile()))) << result.err();
    EXPECT_TRUE(problems.first().endsWith(QStringLiteral("; the file keeps what it held"))) << result.err();
    EXPECT_EQ(stationXml(), earlierSession());
}

TEST_F(CliDiagTest, AFifoAtTheStationFileIsSaidOnceAndNothingHangs) {
    sim::PtyStationHost station(movedStation());
    ASSERT_TRUE(station.start());
    ASSERT_EQ(::mkfifo(QFile::encodeName(stationFile()).constData(), 0600), 0);
    const CliResult result = run(command("status", station));
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.errLines,
              QStringList{QStringLiteral("rechannel-cli: %1 is a FIFO or device, not a regular file: left alone, and no station "
                                         "file is written in this session; move it aside to start a new one")
                              .arg(stationFile())});
    EXPECT_TRUE(result.out.contains(QStringLiteral("snr: -80 dB")));
}

}  // namespace
