// The diagnostics commands as child processes against simulated stations,
// over sessions: what they keep of the station file, the noise column, link
// failures during a sniff, interrupted sweeps and paths that are no file.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <chrono>
#include <csignal>
#include <sys/stat.h>

#include "PtyStationHost.h"

namespace {

constexpr std::uint16_t kAddress = 0x0123;   // the simulated station's own address
constexpr int kParent = 0x45;

class CliDiagTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(home_.isValid());
        ASSERT_TRUE(QDir(home_.path()).mkdir(QStringLiteral("QuelvintLog")));
    }

    void start(QProcess& process, const QStringList& args) const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), home_.path());
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(home_.path());
        process.start(QStringLiteral(RECHANNEL_CLI_PATH), args);
        ASSERT_TRUE(process.waitForStarted(10000));
    }
    // Runs to the end; the exit code, or -1 when it did not end normally.
    int run(QProcess& process, const QStringList& args) const {
        start(process, args);
        if (!process.waitForFinished(120000)) {
            process.kill();
            process.waitForFinished();
            ADD_FAILURE() << args.join(' ').toStdString() << " did not finish";
        }
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }
    QStringList command(const char* name, const sim::PtyStationHost& host, QStringList more = {}) const {
        return QStringList{QLatin1String(name), QStringLiteral("--port"), QString::fromStdString(host.slavePath())} + more;
    }

    QString stationFile() const { return home_.path() + QStringLiteral("/QuelvintLog/%1.xml").arg(kAddress); }
    QByteArray stationXml() const {
        QFile f(stationFile());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    // An earlier session's file: a head from before the move, a neighbour
    // the station no longer hears, and the parent's counted history.
    void writeEarlierSession() const {
        QFile f(stationFile());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("<Station time=\"01.01.20 00:00:00\">\r\n"
                "\t<param address=\"291\" system=\"158\" version=\"1\" frange=\"1\" freq_channe=\"500\" cps=\"0\" "
                "timeouts=\"0\" device=\"0\" />\r\n"
                "\t<status vec=\"0\" isConnect=\"false\" parent_addr=\"0\" quality=\"0\" snr=\"-100\" />\r\n"
                "\t<ostable>\r\n"
                "\t\t<os address=\"5\" time=\"02.01.20 10:00:00\" quality=\"1\" count=\"100\" snr=\"50\" average_snr=\"45\" />\r\n"
                "\t\t<os address=\"69\" time=\"02.01.20 10:00:00\" quality=\"1\" count=\"7\" snr=\"40\" average_snr=\"40\" />\r\n"
                "\t\t<os address=\"77\" time=\"03.01.20 11:00:00\" quality=\"3\" count=\"9\" snr=\"20\" average_snr=\"33.5\" />\r\n"
                "\t</ostable>\r\n</Station>\r\n");
    }

    QTemporaryDir home_;
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
        QProcess process;
        const QStringList extra = QLatin1String(name) == QLatin1String("sniff")
                                      ? QStringList{QStringLiteral("--interval"), QStringLiteral("20"), QStringLiteral("--duration"),
                                                    QStringLiteral("1")}
                                      : QStringList{};
        ASSERT_EQ(run(process, command(name, station, extra)), 0) << process.readAllStandardError().constData();
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
    QProcess process;
    ASSERT_EQ(run(process, command("routes", station)), 0);
    const QString out = QString::fromUtf8(process.readAllStandardOutput());
    EXPECT_TRUE(out.startsWith(QStringLiteral("address\tquality\tsnr (raw level 0..255)\tcount\taverage_snr (raw level 0..255)\ttime\n")));
    EXPECT_TRUE(out.contains(QStringLiteral("\n77\t2\t200\t9\t33.5\t03.01.20 11:00:00\n"))) << out.toStdString();
    EXPECT_TRUE(stationXml().contains("<os address=\"77\" time=\"03.01.20 11:00:00\" quality=\"2\" count=\"9\" snr=\"200\" "
                                      "average_snr=\"33.5\" />"));
    EXPECT_TRUE(stationXml().contains("<os address=\"8191\" time=\"\" quality=\"2\" count=\"0\" snr=\"200\""));
}

TEST_F(CliDiagTest, AnInterruptedSweepStoresWhatWasRead) {
    sim::PtyStationHost station(movedStation());
    station.withModel([](sim::StationModel& m) {
        m.setRouteRow(10, 2, 30);     // block 2: read before the station goes silent
        m.setRouteRow(5000, 2, 30);   // block 1250: never reached
    });
    sim::FaultScript faults;
    faults.powerLostFrom(100);   // the head, then blocks 0 to 98
    station.setFaults(faults);
    ASSERT_TRUE(station.start());
    QProcess process;
    start(process, command("routes", station));
    // 100 answered exchanges and the first unanswered request.
    ASSERT_TRUE(station.waitForFrames(201, std::chrono::seconds(60)));
    ::kill(static_cast<pid_t>(process.processId()), SIGINT);
    ASSERT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitCode(), 130);
    EXPECT_TRUE(QString::fromUtf8(process.readAllStandardError()).contains(QStringLiteral("interrupted after 99 of 2048 blocks")));
    const QByteArray xml = stationXml();
    EXPECT_TRUE(xml.contains("<os address=\"10\" time=\"\" quality=\"2\" count=\"0\" snr=\"30\"")) << xml.constData();
    EXPECT_FALSE(xml.contains("address=\"5000\""));
}

TEST_F(CliDiagTest, SniffCountsOnFromTheFileAndFillsTheNoiseFromTheStatus) {
    sim::PtyStationHost station(movedStation());
    ASSERT_TRUE(station.start());
    writeEarlierSession();
    // Two sessions: the ring's newest packet (3, from the parent, signal 41)
    // is counted in each, on top of the file's 7.
    for (int session = 1; session <= 2; ++session) {
        QProcess process;
        ASSERT_EQ(run(process, command("sniff", station, {QStringLiteral("--interval"), QStringLiteral("20"),
                                                          QStringLiteral("--duration"), QStringLiteral("1")})),
                  0);
        const QString out = QString::fromUtf8(process.readAllStandardOutput());
        EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d,69,65535,HELLO,1,41,-80\\n$")).match(out).hasMatch())
            << out.toStdString();
        EXPECT_TRUE(stationXml().contains(QStringLiteral("<os address=\"69\" time=\"").toUtf8()));
        EXPECT_TRUE(stationXml().contains(QStringLiteral("quality=\"1\" count=\"%1\" snr=\"41\"").arg(7 + session).toUtf8()))
            << stationXml().constData();
    }
}

TEST_F(CliDiagTest, SniffReadsTheStatusAgainEveryStatusEverySeconds) {
    sim::PtyStationHost station(movedStation());
    ASSERT_TRUE(station.start());
    QProcess process;
    start(process, command("sniff", station, {QStringLiteral("--interval"), QStringLiteral("20"), QStringLiteral("--status-every"),
                                              QStringLiteral("1"), QStringLiteral("--duration"), QStringLiteral("60")}));
    ASSERT_TRUE(process.waitForReadyRead(30000));
    EXPECT_TRUE(process.readLine().trimmed().endsWith(",-80")) << "the level read at the start";
    // The station's level rises to raw 200 (-30 dB); packets keep coming
    // until a line carries it.
    station.withModel([](sim::StationModel& m) { m.ram[0x0B04] = 200; });
    bool seen = false;
    for (int seq = 4; seq < 200 && !seen; ++seq) {
        station.withModel([seq](sim::StationModel& m) {
            m.pushSnifferPacket({static_cast<std::uint8_t>(seq), 0x3A, kParent, kAddress, 40, 0x3, 0x3});
        });
        while (!process.canReadLine()) ASSERT_TRUE(process.waitForReadyRead(30000));
        const QByteArray line = process.readLine().trimmed();
        ASSERT_TRUE(line.endsWith(",-80") || line.endsWith(",-30")) << line.constData();
        seen = line.endsWith(",-30");
    }
    EXPECT_TRUE(seen);
    process.terminate();
    ASSERT_TRUE(process.waitForFinished(30000));
    EXPECT_EQ(process.exitCode(), 0);
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
    QProcess process;
    EXPECT_EQ(run(process, command("sniff", station, {QStringLiteral("--interval"), QStringLiteral("1"),
                                                      QStringLiteral("--max-failures"), QStringLiteral("3")})),
              5);
    const QStringList err = QString::fromUtf8(process.readAllStandardError()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    const QStringList expected = {
        QStringLiteral("poll failed (1 of 3 in a row): Нет ответа от Станции. (-2)"),
        QStringLiteral("poll failed (2 of 3 in a row): Нет ответа от Станции. (-2)"),
        QStringLiteral("poll failed (1 of 3 in a row): Нет ответа от Станции. (-1)"),
        QStringLiteral("poll failed (2 of 3 in a row): Нет ответа от Станции. (-1)"),
        QStringLiteral("poll failed (3 of 3 in a row): Нет ответа от Станции. (-1)"),
        QStringLiteral("Нет ответа от Станции. (-1)"),
    };
    EXPECT_EQ(err.mid(1), expected) << err.join('\n').toStdString();
    // Between the refusals and the silence the ring was still followed.
    EXPECT_TRUE(process.readAllStandardOutput().contains(",69,65535,HELLO,1,41,-80\n"));
}

TEST_F(CliDiagTest, AFifoAtTheStationFileIsSaidOnceAndNothingHangs) {
    sim::PtyStationHost station(movedStation());
    ASSERT_TRUE(station.start());
    ASSERT_EQ(::mkfifo(QFile::encodeName(stationFile()).constData(), 0600), 0);
    QProcess process;
    EXPECT_EQ(run(process, command("status", station)), 0);
    EXPECT_EQ(QString::fromUtf8(process.readAllStandardError()),
              QStringLiteral("rechannel-cli: %1 is a FIFO or device, not a regular file: left alone\n").arg(stationFile()));
    EXPECT_TRUE(process.readAllStandardOutput().contains("snr: -80 dB"));
}

}  // namespace
