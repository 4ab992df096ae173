// How the fleet runner adds up its runs: the exit status of a fleet whose
// stations are all on the new channel, and a child that dies by a signal
// before or after it reported (and logged) its run.
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

#include "ChildReport.h"
#include "FleetRunner.h"
#include "Ledger.h"
#include "ExitStatus.h"
#include "ScriptChild.h"
#include "TempHome.h"

namespace {

// One run on a port of its own: runs on one port supersede each other.
PortRunRecord ended(const char* outcome, int port = 0) {
    PortRunRecord run;
    run.port = QStringLiteral("/dev/ttyUSB%1").arg(port);
    run.outcome = outcomeNamed(QByteArray(outcome)).value();
    run.exitStatus = exitStatusOf(run.outcome);
    return run;
}

TEST(FleetExitStatus, ZeroWhenEveryStationIsOnTheNewChannelElseTheHighestOfTheRest) {
    const struct {
        std::vector<const char*> outcomes;
        int status;
    } cases[] = {
        {{"moved", "already-moved"}, 0},
        {{"already-moved", "already-moved"}, 0},
        {{"already-moved", "other-system", "moved"}, 3},
        {{"other-system", "no-answer", "already-moved"}, 5},
        {{}, 0},
    };
    for (const auto& c : cases) {
        std::vector<PortRunRecord> runs;
        for (const char* outcome : c.outcomes) runs.push_back(ended(outcome, static_cast<int>(runs.size())));
        EXPECT_EQ(fleetExitStatus(runs), c.status) << c.outcomes.size() << " runs, first " << (c.outcomes.empty() ? "" : c.outcomes[0]);
    }
}

// A stand-in for the single-port child: says what `reportFile` holds on
// standard error, then dies by SIGKILL.
QString dyingChild(const QString& dir, const QByteArray& report) {
    const QString reportFile = dir + QStringLiteral("/report");
    writeTestFile(reportFile, report);
    return shellScript(dir + QStringLiteral("/child.sh"),
                       "cat '" + QFile::encodeName(reportFile) + "' >&2\nkill -KILL $$\n");
}

// The child's own ledger line comes with its result line; the runner logs
// only a run that died before it, and keeps the outcome the child reported.
TEST(FleetKilledChild, ARunIsLoggedOnceAndKeepsTheOutcomeItReported) {
    const struct {
        const char* what;
        QByteArray report;
        const char* outcome;
        int linesLoggedByTheRunner;
    } cases[] = {
        {"killed after its result line",
         child_report::phaseLine(JobPhase::Restarting) + '\n' +
             child_report::resultLine(291, RunOutcome::Moved, QString(), QStringLiteral("yes")) + '\n',
         "moved", 0},
        {"killed before its result line", child_report::phaseLine(JobPhase::Writing) + '\n', "failed", 1},
    };
    for (const auto& c : cases) {
        QTemporaryDir home;
        ASSERT_TRUE(home.isValid());
        const ScopedEnv homeEnv("HOME", QFile::encodeName(home.path()));
        FleetSettings settings;
        settings.program = dyingChild(home.path(), c.report);
        settings.traceDir = home.path();
        PortWorker worker(FleetPort{QStringLiteral("/dev/ttyUSB0"), QStringLiteral("/dev/ttyUSB0")}, settings, {});
        QEventLoop loop;
        QObject::connect(&worker, &PortWorker::done, &loop, &QEventLoop::quit, Qt::QueuedConnection);
        QTimer::singleShot(60000, &loop, &QEventLoop::quit);
        worker.start();
        if (!worker.finished()) loop.exec();
        ASSERT_TRUE(worker.finished()) << c.what << ": the run did not end";
        ASSERT_EQ(worker.runs().size(), 1u) << c.what;
        EXPECT_EQ(worker.runs()[0].outcomeName(), QLatin1String(c.outcome)) << c.what;
        const std::vector<LedgerEntry> lines = ledger::read(home.path() + QStringLiteral("/QuelvintLog/ledger.csv"));
        EXPECT_EQ(static_cast<int>(lines.size()), c.linesLoggedByTheRunner) << c.what;
        // The code column holds the job's code, as in the child's own lines.
        for (const LedgerEntry& line : lines) EXPECT_EQ(line.code, 255) << c.what << ": an unknown failure";
    }
}

}  // namespace
