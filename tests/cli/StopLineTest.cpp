// A fleet child's stop line: "stop" on its standard input is an interrupt,
// the one way a window's stop reaches a child that shares no console with it.
// Before the first write it ends the run with nothing written; during the
// writes it is deferred until the restart, exactly as Ctrl-C.
#include <QElapsedTimer>
#include <gtest/gtest.h>
#include <cstring>
#include <string>

#include "CliFixture.h"
#include "Ledger.h"
#include "PtyStationHost.h"
#include "StopRequests.h"

namespace {

struct Feed {
    const char* input;
    int stops;
};

std::string fed;
std::size_t fedAt = 0;
int stopsSeen = 0;

// Hands the input out three bytes at a time, so lines are cut across reads.
long readFed(char* buffer, unsigned long size) {
    const std::size_t n = std::min<std::size_t>({size, 3, fed.size() - fedAt});
    std::memcpy(buffer, fed.data() + fedAt, n);
    fedAt += n;
    return static_cast<long>(n);
}

TEST(StopLines, OnlyAWholeStopLineIsARequest) {
    const Feed cases[] = {
        {"stop\n", 1},
        {"stop\r\n", 1},
        {"x\nstop\nstop\n", 2},
        {"stopp\n", 0},
        {" stop\n", 0},
        {"stop", 0},   // the input ended mid-line: the runner died, no request
        {"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaastop\nstop\n", 1},
    };
    for (const Feed& c : cases) {
        fed = c.input;
        fedAt = 0;
        stopsSeen = 0;
        stop_requests::readStopLines(readFed, [] { ++stopsSeen; });
        EXPECT_EQ(stopsSeen, c.stops) << c.input;
    }
}

constexpr int kLimitMs = 60000;

// Reads the child's standard error until a line holds `text`.
bool waitForErrLine(QProcess& process, const QByteArray& text, QByteArray* seen) {
    process.setReadChannel(QProcess::StandardError);
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < kLimitMs && process.state() != QProcess::NotRunning) {
        while (process.canReadLine()) {
            const QByteArray line = process.readLine();
            *seen += line;
            if (line.contains(text)) return true;
        }
        process.waitForReadyRead(500);
    }
    return false;
}

class StopLineTest : public CliFixture {};

TEST_F(StopLineTest, AStopLineEndsARunBeforeItsWritesAndWaitsForItsRestartDuringThem) {
    struct Case {
        const char* stopAt;   // the report line after which the stop line goes
        int exitStatus;
        const char* outcome;
        std::uint8_t system;  // the station's system code afterwards
    };
    const Case cases[] = {
        {"@rechannel phase reading", 130, "interrupted", 0x9E},
        {"@rechannel phase writing", 0, "moved", 0x3A},
    };
    for (const Case& c : cases) {
        sim::PtyStationHost host;
        sim::FaultScript slow;
        slow.always(sim::Fault::delay(150));
        host.setFaults(slow);
        ASSERT_TRUE(host.start());
        const int linesBefore = static_cast<int>(ledger::read(logDir() + QStringLiteral("/ledger.csv")).size());
        QProcessEnvironment env = environment();
        env.insert(QLatin1String(stop_requests::kStopInputVariable), QStringLiteral("1"));
        QProcess child;
        child.setProcessEnvironment(env);
        child.start(QStringLiteral(RECHANNEL_CLI_PATH),
                    {QStringLiteral("program"), QStringLiteral("--port"), path(host), QStringLiteral("--report-phases")});
        ASSERT_TRUE(child.waitForStarted(kLimitMs));
        QByteArray seen;
        ASSERT_TRUE(waitForErrLine(child, c.stopAt, &seen)) << seen.toStdString();
        child.write(stop_requests::kStopLine);
        ASSERT_TRUE(child.waitForFinished(kLimitMs)) << c.stopAt;
        seen += child.readAllStandardError();
        EXPECT_EQ(child.exitCode(), c.exitStatus) << c.stopAt << "\n" << seen.toStdString();
        EXPECT_EQ(host.snapshot().rom[0xC004], c.system) << c.stopAt;
        const std::vector<LedgerEntry> lines = ledger::read(logDir() + QStringLiteral("/ledger.csv"));
        ASSERT_EQ(static_cast<int>(lines.size()), linesBefore + 1) << "the run keeps its ledger line";
        EXPECT_EQ(lines.back().outcome, QLatin1String(c.outcome)) << c.stopAt;
        host.stop();
    }
}

}  // namespace
