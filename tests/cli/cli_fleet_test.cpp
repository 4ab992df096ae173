// Fleet work through rechannel-cli as a child process: several ports at
// once, --all --match, --wait, interrupts, port names and the ledger.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <chrono>
#include <csignal>
#include <memory>

#include "ChildReport.h"
#include "Ledger.h"
#include "PtyStationHost.h"
#include "VirtualPorts.h"

namespace {

constexpr int kLimitMs = 60000;

sim::StationModel station(std::uint8_t system, std::uint16_t address) {
    sim::DefaultStationOptions options;
    options.system = system;
    options.address = address;
    return sim::makeDefaultStation(options);
}

class CliFleetTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(home_.isValid() && runtime_.isValid());
        ASSERT_TRUE(QDir(home_.path()).mkdir(QStringLiteral("QuelvintLog")));
        // The test publishes stations too, in the children's directory.
        oldRuntime_ = qgetenv("XDG_RUNTIME_DIR");
        qputenv("XDG_RUNTIME_DIR", runtime_.path().toUtf8());
    }
    void TearDown() override { qputenv("XDG_RUNTIME_DIR", oldRuntime_); }

    std::unique_ptr<QProcess> start(const QStringList& args) {
        auto process = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), home_.path());
        process->setProcessEnvironment(env);
        process->setWorkingDirectory(home_.path());
        process->start(QStringLiteral(RECHANNEL_CLI_PATH), args);
        EXPECT_TRUE(process->waitForStarted(kLimitMs));
        return process;
    }

    // Runs to the end; returns the exit status (-1 when it did not finish).
    int run(const QStringList& args, QString* out = nullptr, QString* err = nullptr) {
        auto process = start(args);
        if (!process->waitForFinished(kLimitMs)) {
            process->kill();
            process->waitForFinished();
            ADD_FAILURE() << "rechannel-cli " << args.join(' ').toStdString() << " did not finish";
            return -1;
        }
        if (out) *out = QString::fromUtf8(process->readAllStandardOutput());
        if (err) *err = QString::fromUtf8(process->readAllStandardError());
        return process->exitStatus() == QProcess::NormalExit ? process->exitCode() : -1;
    }

    // Reads standard output until a line holds `text` (bounded).
    static QString waitForLine(QProcess& process, const QString& text, QString* seen) {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < kLimitMs) {
            while (process.canReadLine()) {
                const QString line = QString::fromUtf8(process.readLine());
                *seen += line;
                if (line.contains(text)) return line;
            }
            process.waitForReadyRead(1000);
        }
        ADD_FAILURE() << "no line with '" << text.toStdString() << "' in:\n" << seen->toStdString();
        return QString();
    }

    // The summary row of `port`, its cells.
    static QStringList summaryRow(const QString& out, const QString& port) {
        for (const QString& line : out.split(QLatin1Char('\n')))
            if (line.startsWith(port + QLatin1Char(' '))) return line.mid(port.size()).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        return {};
    }

    QString logDir() const { return home_.path() + QStringLiteral("/QuelvintLog"); }
    std::vector<LedgerEntry> ledgerLines() const { return ledger::read(logDir() + QStringLiteral("/ledger.csv")); }

    QTemporaryDir home_;
    QTemporaryDir runtime_;
    QByteArray oldRuntime_;
};

QString path(const sim::PtyStationHost& host) { return QString::fromStdString(host.slavePath()); }

TEST(ChildReport, ReportLinesRoundTripAndAnythingElseIsText) {
    const child_report::Line result = child_report::parse(
        child_report::resultLine(291, QStringLiteral("moved"), QStringLiteral("/b/x\ty.bin"), QStringLiteral("yes")) + '\n');
    EXPECT_EQ(result.kind, child_report::Line::Kind::Result);
    EXPECT_EQ(result.address, 291);
    EXPECT_EQ(result.outcome, "moved");
    EXPECT_EQ(result.backup, "/b/x y.bin") << "a tab in a path cannot cut the fields";
    EXPECT_EQ(child_report::parse(child_report::resultLine(std::nullopt, QStringLiteral("no-port"), {}, {})).address, std::nullopt);
    EXPECT_EQ(child_report::parse(child_report::addressLine(65535)).address, 65535);
    EXPECT_EQ(child_report::parse(child_report::phaseLine(JobPhase::Writing)).text, "writing");
    for (const char* text : {"@rechannel result 1\t2", "@rechannel address 70000", "@rechannel address x", "@rechannel",
                             "Нет ответа от Станции. (-1)", ""})
        EXPECT_EQ(child_report::parse(text).kind, child_report::Line::Kind::Text) << text;
}

TEST_F(CliFleetTest, PortsAtOnceEndInASummaryAndTheHighestStatusOfThoseNotMoved) {
    sim::PtyStationHost good(station(0x9E, 301)), silent(station(0x9E, 302)), refusing(station(0x9E, 303)),
        foreign(station(0x00, 304)), moved(station(0x3A, 305));
    moved.withModel([](sim::StationModel& m) { m.setRom16(0xC00C, 1902); });
    sim::FaultScript quiet;
    quiet.always(sim::Fault::noReply());
    silent.setFaults(quiet);
    sim::FaultScript refuse;
    refuse.always(sim::Fault::withStatus(1));
    refusing.setFaults(refuse);
    for (sim::PtyStationHost* host : {&good, &silent, &refusing, &foreign, &moved}) ASSERT_TRUE(host->start());

    QString out, err;
    EXPECT_EQ(run({QStringLiteral("ledger")}, &out), 0);
    EXPECT_TRUE(out.startsWith(QStringLiteral("moved          0\n"))) << "no ledger yet: an empty summary\n" << out.toStdString();

    const int status = run({QStringLiteral("program"), QStringLiteral("--port"), path(good), QStringLiteral("--port"), path(silent),
                            QStringLiteral("--port"), path(refusing), QStringLiteral("--port"), path(foreign),
                            QStringLiteral("--port"), path(moved), QStringLiteral("--port"), QStringLiteral("/dev/ttyNOSUCH9")},
                           &out, &err);
    EXPECT_EQ(status, 5) << "no proper answer (5) is above another system (3)\n" << out.toStdString() << err.toStdString();
    const struct {
        const sim::PtyStationHost& host;
        const char* address;
        const char* outcome;
    } rows[] = {{good, "301", "moved"}, {silent, "-", "no-answer"}, {refusing, "-", "no-answer"},
                {foreign, "304", "other-system"}, {moved, "305", "already-moved"}};
    EXPECT_EQ(summaryRow(out, QStringLiteral("/dev/ttyNOSUCH9")).value(1), QStringLiteral("no-port"));
    for (const auto& row : rows) {
        const QStringList cells = summaryRow(out, path(row.host));
        ASSERT_GE(cells.size(), 2) << out.toStdString();
        EXPECT_EQ(cells[0], row.address) << path(row.host).toStdString();
        EXPECT_EQ(cells[1], row.outcome) << path(row.host).toStdString();
    }
    EXPECT_TRUE(summaryRow(out, path(good)).value(2).endsWith(QStringLiteral("_301_158.bin"))) << "the backup";
    EXPECT_EQ(good.snapshot().rom[0xC004], 0x3A);
    EXPECT_EQ(foreign.snapshot().rom[0xC004], 0x00);
    EXPECT_TRUE(err.contains(path(good) + QStringLiteral(": 301  writing"))) << "plain status lines off a terminal";
    QStringList logged;
    for (const LedgerEntry& line : ledgerLines()) logged << line.outcome;
    logged.sort();
    EXPECT_EQ(logged.join(QLatin1Char(' ')), QStringLiteral("already-moved moved no-answer no-answer no-port other-system"))
        << "every child appended its line";
    EXPECT_EQ(QDir(logDir() + QStringLiteral("/traces")).entryList(QDir::Files).size(), 6);

    EXPECT_EQ(run({QStringLiteral("ledger"), QStringLiteral("--since"), QStringLiteral("2026-01-01")}, &out), 0);
    EXPECT_TRUE(out.contains(QStringLiteral("no-answer      2\n"))) << out.toStdString();
    const QStringList stations = out.mid(out.indexOf(QStringLiteral("address "))).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(stations.size(), 4) << out.toStdString();
    EXPECT_TRUE(stations[1].startsWith(QStringLiteral("304      other-system"))) << "the station to visit first";
    EXPECT_TRUE(stations[2].startsWith(QStringLiteral("301      moved")));
    EXPECT_TRUE(stations[3].startsWith(QStringLiteral("305      already-moved")));
}

TEST_F(CliFleetTest, AllWithMatchProgramsTheNamedHubOnlyAndCountedStationsHaveTheirOwnAddresses) {
    auto hub = start({QStringLiteral("simulate"), QStringLiteral("--count"), QStringLiteral("3"), QStringLiteral("--publish"),
                      QStringLiteral("Rehearsal"), QStringLiteral("--address"), QStringLiteral("700")});
    QString seen;
    for (int i = 0; i < 3; ++i) waitForLine(*hub, QStringLiteral("/dev/"), &seen);
    sim::PtyStationHost other(station(0x9E, 900));
    ASSERT_TRUE(other.start());
    ASSERT_TRUE(publishVirtualPort("Other bench", other.slavePath()));

    QString out, err;
    EXPECT_EQ(run({QStringLiteral("program"), QStringLiteral("--all"), QStringLiteral("--match"), QStringLiteral("rehearsal")}, &out, &err), 0)
        << out.toStdString() << err.toStdString();
    for (int i = 1; i <= 3; ++i) {
        const QStringList cells = summaryRow(out, QStringLiteral("Rehearsal %1").arg(i));
        EXPECT_EQ(cells.value(0), QString::number(699 + i)) << out.toStdString();
        EXPECT_EQ(cells.value(1), QStringLiteral("moved"));
    }
    EXPECT_FALSE(out.contains(QStringLiteral("Other bench")));
    EXPECT_EQ(other.snapshot().rom[0xC004], 0x9E) << "a port the match left out is not touched";
    EXPECT_EQ(run({QStringLiteral("program"), QStringLiteral("--all"), QStringLiteral("--match"), QStringLiteral("nothing")}), 2);

    // Names as the port list shows them work for every command; an unknown
    // one is a usage error that lists the ports.
    EXPECT_EQ(run({QStringLiteral("status"), QStringLiteral("--port"), QStringLiteral("Other bench")}), 0);
    EXPECT_EQ(run({QStringLiteral("program"), QStringLiteral("--port"), QStringLiteral("Rehearsal 2")}), 1) << "already moved";
    EXPECT_EQ(run({QStringLiteral("routes"), QStringLiteral("--port"), QStringLiteral("Rehearsal")}, &out, &err), 2);
    EXPECT_TRUE(err.contains(QStringLiteral("no port is named 'Rehearsal'")) && err.contains(QStringLiteral("\tRehearsal 3")))
        << err.toStdString();

    unpublishVirtualPort("Other bench");
    hub->terminate();
    ASSERT_TRUE(hub->waitForFinished(kLimitMs));
    EXPECT_FALSE(QFileInfo::exists(runtime_.path() + QStringLiteral("/rechannel-ports/Rehearsal 1")));
}

TEST_F(CliFleetTest, WaitProgramsEachArrivingStationOnceUntilInterrupted) {
    sim::PtyStationHost host(station(0x9E, 501));
    ASSERT_TRUE(host.start());
    auto waiting = start({QStringLiteral("program"), QStringLiteral("--wait"), QStringLiteral("--port"), path(host)});
    QString seen;
    EXPECT_TRUE(waitForLine(*waiting, QStringLiteral("  501  moved"), &seen).contains(QStringLiteral("backup ")));

    // It stays: probed again and again, never programmed twice.
    const std::size_t afterRun = host.frames().size();
    ASSERT_TRUE(host.waitForFrames(afterRun + 6, std::chrono::seconds(30))) << "three probes";
    EXPECT_EQ(host.snapshot().restarts, 1);

    // It leaves (silent), and a station with another address takes its place.
    sim::FaultScript gone;
    gone.always(sim::Fault::noReply());
    host.setFaults(gone);
    ASSERT_TRUE(host.waitForFrames(host.frames().size() + 2, std::chrono::seconds(30))) << "silent probes";
    const sim::StationModel next = station(0x9E, 502);
    host.withModel([&next](sim::StationModel& m) { m.rom = next.rom; });
    host.setFaults(sim::FaultScript{});
    waitForLine(*waiting, QStringLiteral("  502  moved"), &seen);

    // Its restart takes longer than the absence test (about 5 s of silence):
    // when it answers again it is the same station, not a new run.
    host.setFaults(gone);
    ASSERT_TRUE(host.waitForFrames(host.frames().size() + 4, std::chrono::seconds(60))) << "silent probes";
    host.setFaults(sim::FaultScript{});
    ASSERT_TRUE(host.waitForFrames(host.frames().size() + 6, std::chrono::seconds(30))) << "answered probes";
    EXPECT_EQ(host.snapshot().restarts, 2) << "programmed twice";

    ::kill(static_cast<pid_t>(waiting->processId()), SIGINT);
    ASSERT_TRUE(waiting->waitForFinished(kLimitMs));
    seen += QString::fromUtf8(waiting->readAllStandardOutput());
    EXPECT_EQ(waiting->exitCode(), 0) << seen.toStdString();
    EXPECT_EQ(seen.count(QStringLiteral("moved")), 4) << "two lines as they happened, two in the summary\n" << seen.toStdString();
    const std::vector<LedgerEntry> lines = ledgerLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].address, 501);
    EXPECT_EQ(lines[1].address, 502);
}

TEST_F(CliFleetTest, AnInterruptReachesEveryChildAndTheRunnerWaitsForThemAll) {
    sim::PtyStationHost a(station(0x9E, 601)), b(station(0x9E, 602));
    sim::FaultScript slow;
    slow.always(sim::Fault::delay(400));
    for (sim::PtyStationHost* host : {&a, &b}) {
        host->setFaults(slow);
        ASSERT_TRUE(host->start());
    }
    auto fleet = start({QStringLiteral("program"), QStringLiteral("--port"), path(a), QStringLiteral("--port"), path(b)});
    ASSERT_TRUE(a.waitForFrames(1, std::chrono::seconds(30)) && b.waitForFrames(1, std::chrono::seconds(30)))
        << "both children are reading";
    ::kill(static_cast<pid_t>(fleet->processId()), SIGINT);
    ASSERT_TRUE(fleet->waitForFinished(kLimitMs));
    const QString out = QString::fromUtf8(fleet->readAllStandardOutput());
    EXPECT_EQ(fleet->exitCode(), 130) << out.toStdString();
    EXPECT_EQ(summaryRow(out, path(a)).value(1), QStringLiteral("interrupted")) << out.toStdString();
    EXPECT_EQ(summaryRow(out, path(b)).value(1), QStringLiteral("interrupted"));
    EXPECT_EQ(a.snapshot().rom[0xC004], 0x9E) << "interrupted before the first write";
    const std::vector<LedgerEntry> lines = ledgerLines();
    ASSERT_EQ(lines.size(), 2u) << "one line per run, however it ended";
    EXPECT_EQ(lines[0].outcome, "interrupted");
    EXPECT_EQ(lines[1].outcome, "interrupted");
}

}  // namespace
