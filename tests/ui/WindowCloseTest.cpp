// Closing the window during a run, in a process of its own: before the first
// write the run stops there and the process ends with nothing written; from
// the first write on the window stays open with its controls disabled, the
// run goes on to the restart and the window closes after it. Either way the
// run has its ledger line.
#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>

#include "Faults.h"
#include "StationFrames.h"
#include "Ledger.h"
#include "PtyStationHost.h"
#include "TestSupport.h"
#include "VirtualPorts.h"

namespace {

constexpr const char* kPortName = "TUSB window-close station";
constexpr int kLimitMs = 60000;

class WindowClose : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(home_.isValid()); }
    void TearDown() override {
        if (child_.state() != QProcess::NotRunning) {
            child_.kill();
            child_.waitForFinished(kLimitMs);
        }
        unpublishVirtualPort(kPortName, host_.slavePath());
    }

    void startStation(const sim::FaultScript& faults) {
        host_.setFaults(faults);
        ASSERT_TRUE(host_.start());
        ASSERT_TRUE(publishVirtualPort(kPortName, host_.slavePath()));
    }

    void startWindowAndPress() {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), home_.path());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        child_.setProcessEnvironment(env);
        child_.setWorkingDirectory(home_.path());
        child_.start(QStringLiteral(WINDOW_HARNESS), QStringList());
        ASSERT_TRUE(child_.waitForStarted(kLimitMs));
        send(QStringLiteral("press %1").arg(QLatin1String(kPortName)));
    }

    void send(const QString& line) {
        child_.write((line + QLatin1Char('\n')).toUtf8());
        ASSERT_TRUE(child_.waitForBytesWritten(kLimitMs));
    }

    // The harness's own lines once it has ended by itself.
    QStringList finish() {
        EXPECT_TRUE(child_.waitForFinished(kLimitMs)) << "the window's process did not end";
        EXPECT_EQ(child_.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(child_.exitCode(), 0);
        QStringList said;
        for (const QString& line : QString::fromUtf8(child_.readAllStandardOutput()).split(QLatin1Char('\n')))
            if (line.startsWith(QLatin1String("harness: "))) said << line.mid(9);
        EXPECT_EQ(said.isEmpty() ? QString() : said.last(), QStringLiteral("exited"));
        return said;
    }

    LedgerEntry onlyLedgerLine() const {
        const std::vector<LedgerEntry> lines = ledger::read(home_.path() + QStringLiteral("/QuelvintLog/ledger.csv"));
        EXPECT_EQ(lines.size(), 1u);
        return lines.empty() ? LedgerEntry{} : lines.back();
    }

    QTemporaryDir home_;
    sim::PtyStationHost host_;
    QProcess child_;
};

}  // namespace

TEST_F(WindowClose, BeforeTheFirstWriteTheRunStopsThereAndNothingIsWritten) {
    sim::FaultScript slow;
    slow.always(sim::Fault::delay(400));
    startStation(slow);
    const sim::StationModel untouched = host_.snapshot();
    startWindowAndPress();
    ASSERT_TRUE(waitUntil([&] { return host_.exchangeCount() >= 1; }, kLimitMs)) << "the run never reached the station";
    send(QStringLiteral("close"));

    const QStringList said = finish();
    EXPECT_EQ(said, QStringList{QStringLiteral("exited")}) << "no box for a run stopped by the close";
    const sim::StationModel after = host_.snapshot();
    EXPECT_EQ(after.rom, untouched.rom);
    EXPECT_TRUE(romWrites(host_.frames()).empty());
    EXPECT_EQ(after.restarts, 0);
    const LedgerEntry line = onlyLedgerLine();
    EXPECT_EQ(line.outcome, QStringLiteral("interrupted"));
    EXPECT_EQ(line.port, QString::fromStdString(host_.slavePath()));
}

TEST_F(WindowClose, DuringTheWritesTheWindowStaysUntilTheRunHasEnded) {
    sim::FaultScript slowWrite;
    // Block 0, just after the channel table, and the two read-backs after it:
    // the close comes while the station is being written.
    for (int exchange : {18, 19, 20}) slowWrite.at(exchange, sim::Fault::delay(1000));
    startStation(slowWrite);
    startWindowAndPress();
    ASSERT_TRUE(waitUntil([&] { return !romWrites(host_.frames()).empty(); }, kLimitMs)) << "no write came";
    send(QStringLiteral("close"));
    send(QStringLiteral("state"));

    const QStringList said = finish();
    EXPECT_EQ(said, (QStringList{QStringLiteral("state visible=1 start=0 combo=0 refresh=0"),
                                 QStringLiteral("box %1|%2").arg(QString::fromUtf8("Успех"),
                                                                 QString::fromUtf8("Станция переведена на новую частоту!")),
                                 QStringLiteral("exited")}));
    ASSERT_TRUE(host_.waitForRestarts(1, std::chrono::seconds(10)));
    EXPECT_EQ(host_.snapshot().rom[0xC004], 0x3A);
    EXPECT_EQ(host_.snapshot().rom16(0xC00C), 1902);
    const LedgerEntry line = onlyLedgerLine();
    EXPECT_EQ(line.outcome, QStringLiteral("moved"));
    EXPECT_EQ(line.verified, QStringLiteral("yes"));
}
