// Fleet work through rechannel-cli as a child process: several ports at
// once, --all --match, --wait, interrupts, port names and the ledger.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <gtest/gtest.h>
#include <chrono>
#include <csignal>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <sys/stat.h>
#include <unistd.h>

#include "ChildReport.h"
#include "CliFixture.h"
#include "Ledger.h"
#include "PortWorker.h"
#include "PtyStationHost.h"
#include "StationFrames.h"
#include "VirtualPorts.h"

namespace {

constexpr int kLimitMs = 60000;
// A silent probe waits out its reply window: a bound far above the time a
// few of them take on a loaded machine.
constexpr std::chrono::seconds kProbesLimit{120};

// Waits until the station has been probed without answering for longer
// than a waiting port takes a silent station to have left (with a second to
// spare for the probe under way when it went silent): false when no probe
// came that late within the bound. `since`: when it went silent.
[[nodiscard]] bool probedSilentUntilGone(const sim::PtyStationHost& host, std::chrono::steady_clock::time_point since) {
    const auto gone = since + std::chrono::milliseconds(PortWorker::kGoneAfterSilentMs + 1000);
    const auto giveUp = std::chrono::steady_clock::now() + kProbesLimit;
    while (std::chrono::steady_clock::now() < giveUp) {
        const std::vector<sim::WireFrame> frames = host.frames();
        if (!frames.empty() && frames.back().time >= gone) return true;
        host.waitForFrames(frames.size() + 1, std::chrono::seconds(5));
    }
    return false;
}

sim::StationModel station(std::uint8_t system, std::uint16_t address) {
    sim::DefaultStationOptions options;
    options.system = system;
    options.address = address;
    return sim::makeDefaultStation(options);
}

class CliFleetTest : public CliFixture {
protected:
    void SetUp() override {
        CliFixture::SetUp();
        // The test publishes stations too, in the children's directory.
        runtime_.emplace("XDG_RUNTIME_DIR", home_.runtimePath().toUtf8());
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

    // Reads standard output (or `channel`) until a line holds `text`; empty
    // when the process ended or the bound passed first, which callers assert.
    [[nodiscard]] static QString waitForLine(QProcess& process, const QString& text, QString* seen,
                                             QProcess::ProcessChannel channel = QProcess::StandardOutput) {
        process.setReadChannel(channel);
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < kLimitMs) {
            while (process.canReadLine()) {
                const QString line = QString::fromUtf8(process.readLine());
                *seen += line;
                if (line.contains(text)) return line;
            }
            if (process.state() == QProcess::NotRunning) break;
            process.waitForReadyRead(1000);
        }
        ADD_FAILURE() << "no line with '" << text.toStdString() << "' in:\n" << seen->toStdString()
                      << (process.state() == QProcess::NotRunning ? "\n(it ended)" : "");
        return QString();
    }

    // Ends a --wait session with Ctrl-C; returns its exit status.
    static int interrupt(QProcess& process, QString* seen) {
        ::kill(static_cast<pid_t>(process.processId()), SIGINT);
        if (!process.waitForFinished(kLimitMs)) {
            process.kill();
            EXPECT_TRUE(process.waitForFinished(kLimitMs));
            ADD_FAILURE() << "a --wait session did not end on Ctrl-C";
            return -1;
        }
        process.setReadChannel(QProcess::StandardOutput);
        *seen += QString::fromUtf8(process.readAllStandardOutput());
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

    // What the summary says for `port` (a port not moved): its outcome line
    // and the contents of its trace file.
    static std::pair<QString, QByteArray> storyOf(const QString& out, const QString& port) {
        const QString lead = port + QStringLiteral(": ");
        const QString marker = QStringLiteral("; trace ");
        for (const QString& line : out.split(QLatin1Char('\n'))) {
            const int at = line.lastIndexOf(marker);
            if (line.startsWith(lead) && at > 0)
                return {line.mid(lead.size(), at - lead.size()), fileBytes(line.mid(at + marker.size()))};
        }
        return {};
    }

    // The summary row of `port`, its cells.
    static QStringList summaryRow(const QString& out, const QString& port) {
        for (const QString& line : out.split(QLatin1Char('\n')))
            if (line.startsWith(port + QLatin1Char(' '))) return line.mid(port.size()).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        return {};
    }

    std::vector<LedgerEntry> ledgerLines() const { return ledger::read(logDir() + QStringLiteral("/ledger.csv")); }

    std::optional<ScopedEnv> runtime_;
};

TEST(ChildReport, ReportLinesRoundTripAndAnythingElseIsText) {
    const child_report::Line result = child_report::parse(
        child_report::resultLine(291, RunOutcome::Moved, QStringLiteral("/b/x\ty.bin"), QStringLiteral("yes")) + '\n');
    EXPECT_EQ(result.kind, child_report::Line::Kind::Result);
    EXPECT_EQ(result.address, 291);
    EXPECT_EQ(result.outcome, RunOutcome::Moved);
    EXPECT_EQ(result.backup, "/b/x y.bin") << "a tab in a path cannot cut the fields";
    EXPECT_EQ(child_report::parse(child_report::resultLine(std::nullopt, RunOutcome::NoPort, {}, {})).address, std::nullopt);
    EXPECT_EQ(child_report::parse(child_report::addressLine(65535)).address, 65535);
    EXPECT_EQ(child_report::parse(child_report::phaseLine(JobPhase::Writing)).text, "writing");
    const child_report::Line outcome = child_report::parse(child_report::outcomeLine(QStringLiteral("verify failed (8)")));
    EXPECT_EQ(outcome.kind, child_report::Line::Kind::Outcome);
    EXPECT_EQ(outcome.text, "verify failed (8)");
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
    EXPECT_TRUE(out.startsWith(QStringLiteral("moved           0\n"))) << "no ledger yet: an empty summary\n" << out.toStdString();
    // Every count stands in one column, also after the longest outcome name.
    for (const QString& line : out.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        EXPECT_EQ(line.indexOf(QLatin1Char('0')), 16) << line.toStdString();

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
    EXPECT_TRUE(out.contains(QStringLiteral("no-answer       2\n"))) << out.toStdString();
    QString table = out.mid(out.indexOf(QStringLiteral("address ")));
    table.truncate(table.indexOf(QStringLiteral("\n\n")));   // the ports that read no station follow
    const QStringList stations = table.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(stations.size(), 4) << out.toStdString();
    const auto cells = [&stations](int row) { return stations[row].split(QLatin1Char(' '), Qt::SkipEmptyParts); };
    EXPECT_EQ(cells(1).mid(0, 3), (QStringList{"304", cells(1).value(1), "other-system"})) << "the station to visit first";
    EXPECT_EQ(cells(2).mid(0, 3), (QStringList{"301", cells(2).value(1), "moved"}));
    EXPECT_EQ(cells(3).mid(0, 3), (QStringList{"305", cells(3).value(1), "already-moved"}));
}

TEST_F(CliFleetTest, AllWithMatchProgramsTheNamedHubOnlyAndCountedStationsHaveTheirOwnAddresses) {
    auto hub = start({QStringLiteral("simulate"), QStringLiteral("--count"), QStringLiteral("3"), QStringLiteral("--publish"),
                      QStringLiteral("Rehearsal"), QStringLiteral("--address"), QStringLiteral("700")});
    QString seen;
    const QString first = waitForLine(*hub, QStringLiteral("/dev/"), &seen).trimmed();
    ASSERT_FALSE(first.isEmpty());
    for (int i = 1; i < 3; ++i) ASSERT_FALSE(waitForLine(*hub, QStringLiteral("/dev/"), &seen).isEmpty());
    sim::PtyStationHost other(station(0x9E, 900));
    ASSERT_TRUE(other.start());
    ASSERT_TRUE(publishVirtualPort("Other bench", other.slavePath()));
    // A second name for the first station: one device, one run.
    ASSERT_TRUE(publishVirtualPort("Rehearsal again", first.toStdString()));

    QString out, err;
    EXPECT_EQ(run({QStringLiteral("program"), QStringLiteral("--all"), QStringLiteral("--match"), QStringLiteral("rehearsal")}, &out, &err), 0)
        << out.toStdString() << err.toStdString();
    for (int i = 1; i <= 3; ++i) {
        const QStringList cells = summaryRow(out, QStringLiteral("Rehearsal %1").arg(i));
        EXPECT_EQ(cells.value(0), QString::number(699 + i)) << out.toStdString();
        EXPECT_EQ(cells.value(1), QStringLiteral("moved"));
    }
    EXPECT_FALSE(out.contains(QStringLiteral("Other bench")));
    EXPECT_FALSE(out.contains(QStringLiteral("Rehearsal again"))) << "the device has its run already";
    EXPECT_EQ(ledgerLines().size(), 3u);
    EXPECT_EQ(other.snapshot().rom[0xC004], 0x9E) << "a port the match left out is not touched";
    EXPECT_EQ(run({QStringLiteral("program"), QStringLiteral("--all"), QStringLiteral("--match"), QStringLiteral("nothing")}), 2);

    // Names as the port list shows them work for every command; an unknown
    // one is a usage error that lists the ports.
    EXPECT_EQ(run({QStringLiteral("status"), QStringLiteral("--port"), QStringLiteral("Other bench")}), 0);
    EXPECT_EQ(run({QStringLiteral("program"), QStringLiteral("--port"), QStringLiteral("Rehearsal 2")}), 1) << "already moved";
    EXPECT_EQ(run({QStringLiteral("routes"), QStringLiteral("--port"), QStringLiteral("Rehearsal")}, &out, &err), 2);
    EXPECT_TRUE(err.contains(QStringLiteral("no port is named 'Rehearsal'")) && err.contains(QStringLiteral("\tRehearsal 3")))
        << err.toStdString();

    unpublishVirtualPort("Other bench", other.slavePath());
    unpublishVirtualPort("Rehearsal again", first.toStdString());
    hub->terminate();
    ASSERT_TRUE(hub->waitForFinished(kLimitMs));
    EXPECT_FALSE(QFileInfo::exists(home_.runtimePath() + QStringLiteral("/rechannel-ports/Rehearsal 1")));
}

TEST_F(CliFleetTest, WaitProgramsEachArrivingStationOnceUntilInterrupted) {
    sim::PtyStationHost host(station(0x9E, 501));
    ASSERT_TRUE(host.start());
    auto waiting = start({QStringLiteral("program"), QStringLiteral("--wait"), QStringLiteral("--port"), path(host)});
    QString seen;
    ASSERT_TRUE(waitForLine(*waiting, QStringLiteral("  501  moved"), &seen).contains(QStringLiteral("backup ")));

    // It stays: probed again and again, never programmed twice.
    const std::size_t afterRun = host.frames().size();
    ASSERT_TRUE(host.waitForFrames(afterRun + 6, kProbesLimit)) << "three probes";
    EXPECT_EQ(host.snapshot().restarts, 1);

    // It leaves (silent), and a station with another address takes its place.
    sim::FaultScript gone;
    gone.always(sim::Fault::noReply());
    host.setFaults(gone);
    ASSERT_TRUE(host.waitForFrames(host.frames().size() + 2, kProbesLimit)) << "silent probes";
    const sim::StationModel next = station(0x9E, 502);
    host.withModel([&next](sim::StationModel& m) { m.rom = next.rom; });
    host.setFaults(sim::FaultScript{});
    ASSERT_FALSE(waitForLine(*waiting, QStringLiteral("  502  moved"), &seen).isEmpty());
    // The restart has no answer: the run may be reported before the station
    // has read it, and a silent station would swallow it.
    ASSERT_TRUE(host.waitForRestarts(2, kProbesLimit)) << "the second station restarted";

    // Its restart takes longer than the absence test (about 5 s of silence):
    // when it answers again it is the same station, not a new run.
    host.setFaults(gone);
    ASSERT_TRUE(host.waitForFrames(host.frames().size() + 4, kProbesLimit)) << "silent probes";
    host.setFaults(sim::FaultScript{});
    ASSERT_TRUE(host.waitForFrames(host.frames().size() + 6, kProbesLimit)) << "answered probes";
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

// What the children say for people reaches the runner's standard error,
// each line led by its port; the live lines show the address once read.
TEST_F(CliFleetTest, TheChildrensMessagesReachTheUserWithTheirPort) {
    sim::PtyStationHost keepsNothing(station(0x9E, 811)), lost(station(0x9E, 812));
    sim::FaultScript ignore;
    ignore.always(sim::Fault::ignoreWrite());
    keepsNothing.setFaults(ignore);
    sim::FaultScript powerLost;
    powerLost.powerLostFrom(1);   // the head is read, then nothing answers
    lost.setFaults(powerLost);
    for (sim::PtyStationHost* host : {&keepsNothing, &lost}) ASSERT_TRUE(host->start());
    ASSERT_TRUE(QDir(logDir()).mkdir(QStringLiteral("ledger.csv")));

    QString out, err;
    const int status = run({QStringLiteral("program"), QStringLiteral("--port"), path(keepsNothing), QStringLiteral("--port"),
                            path(lost)},
                           &out, &err);
    EXPECT_EQ(status, 7) << "verify failed (7) is above no proper answer (5)\n" << out.toStdString() << err.toStdString();
    EXPECT_EQ(summaryRow(out, path(keepsNothing)).value(1), QStringLiteral("verify-failed")) << out.toStdString();
    EXPECT_TRUE(err.contains(path(keepsNothing) + QStringLiteral(": read back 0xC00C: "))) << err.toStdString();
    for (const sim::PtyStationHost* host : {&keepsNothing, &lost})
        EXPECT_TRUE(err.contains(path(*host) + QStringLiteral(": The ledger ") + logDir() + QStringLiteral("/ledger.csv could not be written")))
            << err.toStdString();
    EXPECT_TRUE(err.contains(path(lost) + QStringLiteral(": 812  reading"))) << "the address as soon as the head is read";
    EXPECT_FALSE(err.contains(QStringLiteral(": station address: "))) << "the summary has the address already";

    // Each trace file tells its run to the end.
    const auto [outcome, story] = storyOf(out, path(keepsNothing));
    ASSERT_FALSE(outcome.isEmpty()) << out.toStdString();
    for (const QString& told : {QStringLiteral("read back 0xC00C: "), QStringLiteral("station address: 811"),
                                QStringLiteral("backup: "), outcome + QLatin1Char('\n')})
        EXPECT_TRUE(story.contains(told.toUtf8())) << told.toStdString() << " in:\n" << story.constData();
}

// With --all a port where nothing answers holds no station; its trace still
// says what happened.
TEST_F(CliFleetTest, AllTakesASilentPortForNoStationAndItsTraceSaysSo) {
    sim::PtyStationHost good(station(0x9E, 861)), silent(station(0x9E, 862));
    sim::FaultScript quiet;
    quiet.always(sim::Fault::noReply());
    silent.setFaults(quiet);
    for (sim::PtyStationHost* host : {&good, &silent}) ASSERT_TRUE(host->start());
    ASSERT_TRUE(publishVirtualPort("Yard good", good.slavePath()));
    ASSERT_TRUE(publishVirtualPort("Yard onboard", silent.slavePath()));

    QString out, err;
    EXPECT_EQ(run({QStringLiteral("program"), QStringLiteral("--all"), QStringLiteral("--match"), QStringLiteral("yard")}, &out, &err), 0)
        << out.toStdString() << err.toStdString();
    EXPECT_EQ(summaryRow(out, QStringLiteral("Yard good")).value(1), QStringLiteral("moved")) << out.toStdString();
    EXPECT_EQ(summaryRow(out, QStringLiteral("Yard onboard")).value(1), QStringLiteral("no-station"));
    const auto [outcome, story] = storyOf(out, QStringLiteral("Yard onboard"));
    EXPECT_TRUE(outcome.startsWith(QStringLiteral("Нет ответа от Станции."))) << out.toStdString();
    EXPECT_TRUE(('\n' + story).endsWith((QLatin1Char('\n') + outcome + QLatin1Char('\n')).toUtf8()))
        << "its last line, trace: " << story.constData();
    unpublishVirtualPort("Yard good", good.slavePath());
    unpublishVirtualPort("Yard onboard", silent.slavePath());
}

// A station that answered the head read is there: its silence afterwards is
// a lost answer (exit status 5), not an empty port.
TEST_F(CliFleetTest, AllTakesAStationThatFellSilentAfterItsHeadForNoAnswer) {
    sim::PtyStationHost fading(station(0x9E, 863));
    sim::FaultScript afterHead;
    afterHead.powerLostFrom(1);
    fading.setFaults(afterHead);
    ASSERT_TRUE(fading.start());
    ASSERT_TRUE(publishVirtualPort("Field fading", fading.slavePath()));

    QString out, err;
    EXPECT_EQ(run({QStringLiteral("program"), QStringLiteral("--all"), QStringLiteral("--match"), QStringLiteral("field")}, &out, &err), 5)
        << out.toStdString() << err.toStdString();
    EXPECT_EQ(summaryRow(out, QStringLiteral("Field fading")).value(1), QStringLiteral("no-answer")) << out.toStdString();
    unpublishVirtualPort("Field fading", fading.slavePath());
}

// A port's trace file holds the run's own trace, and the story after it.
TEST_F(CliFleetTest, APortsTraceFileKeepsTheRunsTraceAboveItsStory) {
    sim::PtyStationHost foreign(station(0x00, 864));
    ASSERT_TRUE(foreign.start());
    ASSERT_TRUE(publishVirtualPort("Shed foreign", foreign.slavePath()));

    QString out, err;
    EXPECT_EQ(run({QStringLiteral("program"), QStringLiteral("--all"), QStringLiteral("--match"), QStringLiteral("shed")}, &out, &err), 3)
        << out.toStdString() << err.toStdString();
    const auto [outcome, story] = storyOf(out, QStringLiteral("Shed foreign"));
    ASSERT_FALSE(outcome.isEmpty()) << out.toStdString();
    const int trace = story.indexOf("Current Params:");
    const int told = story.lastIndexOf(outcome.toUtf8());
    EXPECT_GE(trace, 0) << "the run's trace is gone:\n" << story.constData();
    EXPECT_GT(told, trace) << story.constData();
    unpublishVirtualPort("Shed foreign", foreign.slavePath());
}

// Names that reach one device by other paths (a link to a link, a relative
// link) are one port to --all: one worker, one run, nothing left "no port".
TEST_F(CliFleetTest, AllTakesADeviceOnceWhateverPathsReachIt) {
    sim::PtyStationHost host(station(0x9E, 865));
    ASSERT_TRUE(host.start());
    ASSERT_TRUE(publishVirtualPort("Dock a", host.slavePath()));
    const std::string dir = virtualPortDirectory();
    ASSERT_EQ(::symlink("Dock a", (dir + "/Dock b").c_str()), 0) << "a relative link";
    ASSERT_EQ(::symlink((dir + "/Dock b").c_str(), (dir + "/Dock c").c_str()), 0) << "a link to a link";

    QString out, err;
    EXPECT_EQ(run({QStringLiteral("program"), QStringLiteral("--all"), QStringLiteral("--match"), QStringLiteral("dock")}, &out, &err), 0)
        << out.toStdString() << err.toStdString();
    EXPECT_FALSE(out.contains(QStringLiteral("no-port"))) << out.toStdString();
    EXPECT_EQ(ledgerLines().size(), 1u) << out.toStdString();
    EXPECT_EQ(romWrites(host.frames()).size(), 3u) << "one move";
    ::unlink((dir + "/Dock c").c_str());
    ::unlink((dir + "/Dock b").c_str());
    unpublishVirtualPort("Dock a", host.slavePath());
}

// --wait waits for a port name or a match that is not there yet.
TEST_F(CliFleetTest, WaitTakesUpANameOrMatchPublishedLater) {
    const struct {
        QStringList args;
        const char* said;   // on standard error while nothing is there
        std::string name;
        std::uint16_t address;
    } cases[] = {
        {{QStringLiteral("--port"), QStringLiteral("Bench later")}, "Bench later: waiting for the port", "Bench later", 871},
        {{QStringLiteral("--all"), QStringLiteral("--match"), QStringLiteral("latecomer")}, "no port's name contains 'latecomer' yet",
         "Latecomer hub 1", 872},
    };
    for (const auto& c : cases) {
        auto waiting = start(QStringList{QStringLiteral("program"), QStringLiteral("--wait")} + c.args);
        QString said, seen;
        ASSERT_FALSE(waitForLine(*waiting, QLatin1String(c.said), &said, QProcess::StandardError).isEmpty()) << c.name;
        sim::PtyStationHost host(station(0x9E, c.address));
        ASSERT_TRUE(host.start());
        ASSERT_TRUE(publishVirtualPort(c.name, host.slavePath()));
        const QString moved = QStringLiteral("%1  %2  moved").arg(QString::fromStdString(c.name)).arg(c.address);
        ASSERT_FALSE(waitForLine(*waiting, moved, &seen).isEmpty()) << c.name;
        EXPECT_EQ(interrupt(*waiting, &seen), 0) << seen.toStdString();
        unpublishVirtualPort(c.name, host.slavePath());
    }
}

// A --wait session ends by each station's last run: a failure that a later
// run of the same station mended is no failure.
TEST_F(CliFleetTest, WaitExitStatusCountsTheLastRunOfEachStation) {
    sim::PtyStationHost host(station(0x9E, 881));
    sim::FaultScript keepsNothing;
    keepsNothing.always(sim::Fault::ignoreWrite());
    host.setFaults(keepsNothing);
    ASSERT_TRUE(host.start());
    auto waiting = start({QStringLiteral("program"), QStringLiteral("--wait"), QStringLiteral("--port"), path(host)});
    QString seen;
    ASSERT_FALSE(waitForLine(*waiting, QStringLiteral("  881  verify-failed"), &seen).isEmpty());
    // Unplugged long enough to have left, then back and mended.
    sim::FaultScript gone;
    gone.always(sim::Fault::noReply());
    const auto unplugged = std::chrono::steady_clock::now();
    host.setFaults(gone);
    ASSERT_TRUE(host.waitForFrames(host.frames().size() + 7, kProbesLimit)) << "silent probes";
    ASSERT_TRUE(probedSilentUntilGone(host, unplugged)) << "silent probes for longer than a station that left";
    host.setFaults(sim::FaultScript{});
    ASSERT_FALSE(waitForLine(*waiting, QStringLiteral("  881  moved"), &seen).isEmpty());
    EXPECT_EQ(interrupt(*waiting, &seen), 0) << seen.toStdString();
}

// --wait on a port given by name finds it again when the station behind the
// name comes back on another pseudo-terminal, and a station moved earlier is
// taken again once another address has had its run there.
TEST_F(CliFleetTest, WaitFollowsAPortNameToItsNewDeviceAndTakesAStationBackAfterAnother) {
    const std::string name = "Bench under test";
    // The next station is up before the last one goes, so its pty is another one.
    auto attach = [&name](std::unique_ptr<sim::PtyStationHost>& host, sim::StationModel model) {
        auto next = std::make_unique<sim::PtyStationHost>(std::move(model));
        if (!next->start() || (host && next->slavePath() == host->slavePath())) return false;
        if (host) unpublishVirtualPort(name, host->slavePath());
        if (!publishVirtualPort(name, next->slavePath())) return false;
        if (host) host->stop();
        host = std::move(next);
        return true;
    };
    std::unique_ptr<sim::PtyStationHost> host;
    ASSERT_TRUE(attach(host, station(0x9E, 821)));
    auto waiting = start({QStringLiteral("program"), QStringLiteral("--wait"), QStringLiteral("--port"), QString::fromStdString(name)});
    QString seen;
    ASSERT_FALSE(waitForLine(*waiting, QStringLiteral("  821  moved"), &seen).isEmpty());
    const sim::StationModel moved = host->snapshot();

    ASSERT_TRUE(attach(host, station(0x00, 822)));
    ASSERT_FALSE(waitForLine(*waiting, QStringLiteral("  822  other-system"), &seen).isEmpty());
    ASSERT_TRUE(attach(host, moved));
    ASSERT_FALSE(waitForLine(*waiting, QStringLiteral("  821  already-moved"), &seen).isEmpty());

    ::kill(static_cast<pid_t>(waiting->processId()), SIGINT);
    ASSERT_TRUE(waiting->waitForFinished(kLimitMs));
    unpublishVirtualPort(name, host->slavePath());
    std::vector<std::pair<int, QString>> logged;
    for (const LedgerEntry& line : ledgerLines()) logged.emplace_back(line.address.value_or(-1), line.outcome);
    const std::vector<std::pair<int, QString>> expected = {{821, "moved"}, {822, "other-system"}, {821, "already-moved"}};
    EXPECT_EQ(logged, expected);
}

TEST_F(CliFleetTest, WaitOnAllTakesUpPortsAttachedLater) {
    sim::PtyStationHost early(station(0x9E, 831)), late(station(0x9E, 832));
    for (sim::PtyStationHost* host : {&early, &late}) ASSERT_TRUE(host->start());
    ASSERT_TRUE(publishVirtualPort("Hub early", early.slavePath()));
    auto waiting = start({QStringLiteral("program"), QStringLiteral("--all"), QStringLiteral("--match"), QStringLiteral("hub"),
                          QStringLiteral("--wait")});
    QString seen;
    ASSERT_FALSE(waitForLine(*waiting, QStringLiteral("Hub early  831  moved"), &seen).isEmpty());
    ASSERT_TRUE(publishVirtualPort("Hub late", late.slavePath()));   // plugged in while waiting
    ASSERT_FALSE(waitForLine(*waiting, QStringLiteral("Hub late  832  moved"), &seen).isEmpty());

    ::kill(static_cast<pid_t>(waiting->processId()), SIGINT);
    ASSERT_TRUE(waiting->waitForFinished(kLimitMs));
    unpublishVirtualPort("Hub early", early.slavePath());
    unpublishVirtualPort("Hub late", late.slavePath());
    EXPECT_EQ(waiting->exitCode(), 0) << seen.toStdString();
    EXPECT_EQ(ledgerLines().size(), 2u);
}

// Only a missing ledger is an empty summary; anything else in its place is
// said, and nothing hangs on a FIFO.
TEST_F(CliFleetTest, TheLedgerCommandRefusesWhatIsNotALedgerFile) {
    const QString ledger = logDir() + QStringLiteral("/ledger.csv");
    const struct {
        const char* what;
        std::function<bool()> make;
    } cases[] = {
        {"a FIFO", [&ledger] { return ::mkfifo(QFile::encodeName(ledger).constData(), 0600) == 0; }},
        {"a directory", [&ledger] { return QDir().mkdir(ledger); }},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(c.make()) << c.what;
        QString out, err;
        EXPECT_EQ(run({QStringLiteral("ledger")}, &out, &err), 6) << c.what;
        EXPECT_TRUE(err.contains(ledger + QStringLiteral(" cannot be read"))) << c.what << "\n" << err.toStdString();
        EXPECT_TRUE(out.isEmpty()) << c.what << ": no summary of a ledger not read";
        ASSERT_TRUE(QFile::remove(ledger) || QDir().rmdir(ledger));
    }
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

// Two simulators never share a name, names of the directory's own files
// are refused, and a simulator that ends removes only its own link.
TEST_F(CliFleetTest, PublishRefusesATakenOrHiddenNameAndRemovesOnlyItsOwnLink) {
    auto first = start({QStringLiteral("simulate"), QStringLiteral("--publish"), QStringLiteral("Shared bench")});
    QString seen;
    const QString pty = waitForLine(*first, QStringLiteral("/dev/"), &seen).trimmed();
    ASSERT_FALSE(pty.isEmpty());
    const QString link = home_.runtimePath() + QStringLiteral("/rechannel-ports/Shared bench");
    const struct {
        const char* name;
        const char* said;
    } refused[] = {{"Shared bench", "'Shared bench' is taken"}, {".hidden", "'.hidden' cannot be a port name"},
                   {"", "--publish takes a name"}};
    for (const auto& c : refused) {
        QString out, err;
        EXPECT_EQ(run({QStringLiteral("simulate"), QStringLiteral("--publish"), QLatin1String(c.name)}, &out, &err), 2) << c.name;
        EXPECT_TRUE(err.contains(QLatin1String(c.said))) << err.toStdString();
    }
    EXPECT_EQ(QFileInfo(link).symLinkTarget(), pty) << "the first keeps its name";

    // Another station takes the name over; the first, ending, leaves it be.
    sim::PtyStationHost other(station(0x9E, 890));
    ASSERT_TRUE(other.start());
    ASSERT_TRUE(QFile::remove(link));
    ASSERT_TRUE(publishVirtualPort("Shared bench", other.slavePath()));
    first->terminate();
    ASSERT_TRUE(first->waitForFinished(kLimitMs));
    EXPECT_EQ(QFileInfo(link).symLinkTarget(), path(other));
    unpublishVirtualPort("Shared bench", other.slavePath());
}

}  // namespace
