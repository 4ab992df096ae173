// A waiting port and the station its run left partly written: while the
// station stays attached it is programmed again, a bounded number of times,
// and a station its run moved is never programmed again.
#include <gtest/gtest.h>

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>

#include "PortWorker.h"
#include "ScriptChild.h"
#include "SimStation.h"

namespace {

// Stands in for rechannel-cli's programming run: run after run it reports
// the next outcome of `outcomes` (moved once they run out) for the station
// the probes hear, 291.
QString fakeProgram(const QTemporaryDir& dir, const QStringList& outcomes) {
    const QString path = dir.filePath(QStringLiteral("program"));
    writeTestFile(path + QStringLiteral(".outcomes"), outcomes.join(QLatin1Char('\n')).toUtf8() + '\n');
    return shellScript(path,
                       "n=$(( $(cat \"$0.count\" 2>/dev/null || echo 0) + 1 )); echo $n >\"$0.count\"\n"
                       "outcome=$(sed -n \"${n}p\" \"$0.outcomes\"); [ -n \"$outcome\" ] || outcome=moved\n"
                       "printf '@rechannel address 291\\n@rechannel result 291\\t%s\\t\\t\\n' \"$outcome\" >&2\n"
                       "[ \"$outcome\" = moved ] || exit 5\n");
}

class PortWorkerTest : public SimStationTest {};

TEST_F(PortWorkerTest, APartlyWrittenStationStillAttachedIsProgrammedAgainAFewTimesAtMost) {
    const struct {
        const char* what;
        QStringList outcomes;
        QStringList runs;
    } cases[] = {
        {"completed by the next run", {"partly-written"}, {"partly-written", "moved"}},
        {"never completed", QStringList(4, QStringLiteral("partly-written")),
         QStringList(1 + PortWorker::kPartlyWrittenReruns, QStringLiteral("partly-written"))},
        {"moved", {"moved"}, {"moved"}},
    };
    for (const auto& c : cases) {
        QTemporaryDir dir;
        FleetSettings settings;
        settings.program = fakeProgram(dir, c.outcomes);
        settings.traceDir = dir.path();
        settings.wait = true;
        PortWorker worker(FleetPort{QStringLiteral("sim"), QString::fromStdString(host.slavePath()), false}, settings,
                          [](const PortWorker*, const QString&) { return false; });
        QSignalSpy ended(&worker, &PortWorker::runEnded);
        worker.start();
        EXPECT_TRUE(QTest::qWaitFor([&] { return ended.size() >= c.runs.size(); }, 30000)) << c.what;
        // The station stays attached and answers probe after probe: no more runs.
        const std::size_t heard = host.frames().size();
        EXPECT_TRUE(QTest::qWaitFor([&] { return host.frames().size() >= heard + 10; }, 30000)) << c.what;
        QSignalSpy done(&worker, &PortWorker::done);
        worker.stop(SIGINT);
        EXPECT_TRUE(worker.finished() || done.wait(30000)) << c.what;
        QStringList runs;
        for (const PortRunRecord& run : worker.runs()) runs << run.outcomeName();
        EXPECT_EQ(runs.join(QLatin1Char(' ')).toStdString(), c.runs.join(QLatin1Char(' ')).toStdString()) << c.what;
    }
}

}  // namespace
