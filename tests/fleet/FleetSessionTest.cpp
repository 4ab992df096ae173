// A fleet at work on a simulated station reached by two names: never two
// workers on its device, the second name waiting until the first lets go,
// and one stop that ends them all, said once.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <csignal>
#include <map>

#include "FleetSession.h"
#include "ScriptChild.h"
#include "SimStation.h"

namespace {

// Stands in for rechannel-cli's programming run: moves the station the
// probes hear (291), and counts its runs in program.runs.
QString fakeProgram(const QTemporaryDir& dir) {
    return shellScript(dir.filePath(QStringLiteral("program")),
                       "echo run >>\"$0.runs\"\n"
                       "printf '@rechannel phase reading\\n@rechannel address 291\\n@rechannel result 291\\tmoved\\t\\t\\n' >&2\n");
}

class FleetSessionTest : public SimStationTest {};

TEST_F(FleetSessionTest, NeverTwoWorkersOnOneDeviceHoweverNamedAndOneStopEndsAll) {
    QTemporaryDir dir;
    const QString node = QString::fromStdString(host.slavePath());
    const QString link = dir.filePath(QStringLiteral("Dock B"));
    ASSERT_TRUE(QFile::link(node, link));
    const FleetPort first{QStringLiteral("Dock A"), node, true}, second{QStringLiteral("Dock B"), link, true};
    FleetSettings settings;
    settings.program = fakeProgram(dir);
    settings.traceDir = dir.filePath(QStringLiteral("traces"));
    settings.wait = true;
    settings.resolve = [&](const QString& name) { return name == first.name ? node : name == second.name ? link : QString(); };
    settings.discover = [&] { return std::vector<FleetPort>{first, second}; };
    FleetSession session(settings);
    std::map<QString, std::vector<PortActivity>> told;
    QObject::connect(&session, &FleetSession::activity,
                     [&](const QString& port, const PortActivity& now) { told[port].push_back(now); });
    QSignalSpy ended(&session, &FleetSession::runEnded);
    QSignalSpy finished(&session, &FleetSession::finished);
    const auto ran = [&](const QString& port) {
        const auto& seen = told[port];
        return std::any_of(seen.begin(), seen.end(), [](const PortActivity& a) { return a.state == PortActivity::State::Running; });
    };

    // A discovery that lists the device under both names gives it one worker.
    session.start();
    session.portsChanged();
    EXPECT_EQ(session.busyPorts().join(QLatin1Char('|')).toStdString(), "Dock A");
    ASSERT_TRUE(QTest::qWaitFor([&] { return ended.size() >= 1; }, 30000));

    // Named again while its station stays attached, it waits for the port.
    session.work(second);
    EXPECT_EQ(session.busyPorts().join(QLatin1Char('|')).toStdString(), "Dock A|Dock B");
    const std::size_t heard = host.frames().size();
    // The first name's worker probes on; the second's waits, and never holds
    // up the first (each taking the other for the holder would stop both).
    ASSERT_TRUE(QTest::qWaitFor([&] { return host.frames().size() >= heard + 10; }, 30000)) << "no more probes";
    EXPECT_FALSE(ran(second.name)) << "a second worker ran on the device";
    ASSERT_FALSE(told[second.name].empty());
    EXPECT_EQ(told[second.name].back().state, PortActivity::State::WaitingForPort);
    EXPECT_EQ(ended.size(), 1);

    // Let go under the first name, the device is the second's.
    QSignalSpy portDone(&session, &FleetSession::portDone);
    session.release(first.name, SIGTERM);
    ASSERT_TRUE(portDone.size() >= 1 || portDone.wait(30000));
    EXPECT_EQ(portDone.first().first().toString(), first.name);
    ASSERT_TRUE(QTest::qWaitFor([&] { return ran(second.name); }, 30000)) << "the device was not passed on";
    EXPECT_TRUE(finished.isEmpty()) << "a session with --wait goes on until it is stopped";

    session.stop(SIGTERM);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !finished.isEmpty(); }, 30000));
    QCoreApplication::processEvents();   // a second "finished" queued behind the first
    EXPECT_EQ(finished.size(), 1);
    EXPECT_TRUE(session.allDone());
    EXPECT_TRUE(session.busyPorts().isEmpty());
    QFile runs(settings.program + QStringLiteral(".runs"));
    ASSERT_TRUE(runs.open(QIODevice::ReadOnly));
    EXPECT_EQ(runs.readAll().count('\n'), static_cast<qsizetype>(session.runs().size()));
}

}  // namespace
