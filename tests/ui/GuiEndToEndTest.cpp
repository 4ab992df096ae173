// The whole road of a run from the window: real discovery lists the virtual
// port a simulated station published, the button starts the real worker
// thread, the real transport talks to the station over a pseudo-terminal,
// and the outcome arrives in its box.

#include <gtest/gtest.h>
#include <chrono>
#include <algorithm>
#include <functional>

#include <QDir>
#include <QFileInfo>

#include <QComboBox>
#include <QFile>
#include <QPushButton>
#include <QTest>

#include "Faults.h"
#include "JobMessages.h"
#include "Ledger.h"
#include "LogDirectory.h"
#include "MainWindow.h"
#include "SimStation.h"
#include "StationFrames.h"
#include "StationRecord.h"
#include "TestSupport.h"
#include "TraceCapture.h"
#include "VirtualPorts.h"
#include "WorkThread.h"

namespace {

constexpr const char* kPortName = "gui-e2e-station";
constexpr int kRunLimitMs = 60000;

class GuiEndToEnd : public ::testing::Test {
protected:
    void startStation(sim::StationModel model, const sim::FaultScript& faults = {}) {
        host_ = std::make_unique<sim::PtyStationHost>(std::move(model));
        host_->setFaults(faults);
        ASSERT_TRUE(host_->start());
        ASSERT_TRUE(publishVirtualPort(kPortName, host_->slavePath()));
    }

    void TearDown() override { stopStation(); }

    void stopStation() {
        window_.reset();
        if (host_) {
            unpublishVirtualPort(kPortName, host_->slavePath());
            stopExpectingNoStrayBytes(*host_);
        }
        host_.reset();
    }

    void openWindow() {
        ensureLogDirectory();   // as the program's start-up does
        StationRecord::create();
        window_ = std::make_unique<MainWindow>();
        window_->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
        combo_ = window_->findChild<QComboBox*>("CBCom");
        start_ = window_->findChild<QPushButton*>("BStart");
        const int index = combo_->findText(QString::fromLatin1(kPortName));
        ASSERT_GE(index, 0) << "the published station is in the list";
        combo_->setCurrentIndex(index);
    }

    // Presses the button and returns the one outcome box of the run. Whatever
    // the outcome, the operator must not start another run or change the port
    // while its box is still open.
    SeenModal runOnce() {
        ModalCloser closer(kRunLimitMs);
        auto* refresh = window_->findChild<QPushButton*>("BRefresh");
        closer.setHandler([this, refresh](QWidget*, SeenModal& seen) {
            seen.controlsEnabled = start_->isEnabled() || combo_->isEnabled() || refresh->isEnabled();
        });
        QTest::mouseClick(start_, Qt::LeftButton);
        EXPECT_FALSE(start_->isEnabled());
        const bool done = waitUntil([&] { return closer.boxCount() >= 1 && start_->isEnabled(); }, kRunLimitMs);
        EXPECT_TRUE(done) << "the run ends in a box and the controls come back";
        EXPECT_TRUE(window_->workThread()->wait(kRunLimitMs));
        QCoreApplication::processEvents();
        EXPECT_EQ(closer.boxCount(), 1) << "exactly one outcome per run";
        for (const SeenModal& seen : closer.seen())
            EXPECT_FALSE(seen.controlsEnabled) << "controls enabled while \"" << seen.title.toStdString() << "\" was open";
        EXPECT_TRUE(combo_->isEnabled());
        EXPECT_TRUE(refresh->isEnabled());
        return closer.seen().empty() ? SeenModal{} : closer.seen().back();
    }

    // The window's line for the run just shown (the home is shared by all tests).
    static LedgerEntry lastLedgerLine() {
        const std::vector<LedgerEntry> lines = ledger::read(ledger::path());
        return lines.empty() ? LedgerEntry{} : lines.back();
    }

    std::unique_ptr<sim::PtyStationHost> host_;
    std::unique_ptr<MainWindow> window_;
    QComboBox* combo_ = nullptr;
    QPushButton* start_ = nullptr;
};

}  // namespace

TEST_F(GuiEndToEnd, StationIsMovedThenReportedAsAlreadyMoved) {
    startStation(sim::makeDefaultStation());
    openWindow();

    const SeenModal moved = runOnce();
    EXPECT_EQ(moved.icon, QMessageBox::Information);
    EXPECT_EQ(moved.title, QString::fromUtf8("Успех"));
    EXPECT_EQ(moved.text, job_messages::moved());
    // The restart gets no reply: the box may open before the station has
    // taken it in, so wait (bounded) for it to arrive.
    ASSERT_TRUE(host_->waitForRestarts(1, std::chrono::seconds(30)));
    const sim::StationModel after = host_->snapshot();
    EXPECT_EQ(after.rom[0xC004], 0x3A);
    EXPECT_EQ(after.rom16(0xC00C), 1902);
    EXPECT_EQ(after.restarts, 1);
    const LedgerEntry movedLine = lastLedgerLine();
    EXPECT_EQ(movedLine.outcome, "moved");
    EXPECT_EQ(movedLine.port, QString::fromStdString(host_->slavePath()));
    EXPECT_EQ(movedLine.address, 0x0123);
    EXPECT_EQ(movedLine.systemBefore, 0x9E);
    EXPECT_EQ(movedLine.channelBefore, 500);
    EXPECT_EQ(movedLine.backup, window_->workThread()->backupPath());
    EXPECT_TRUE(QFile::exists(movedLine.backup)) << movedLine.backup.toStdString();

    const SeenModal again = runOnce();
    EXPECT_EQ(again.icon, QMessageBox::Information);
    EXPECT_EQ(again.title, "Info");
    EXPECT_EQ(again.text, job_messages::alreadyMoved());
    EXPECT_EQ(host_->snapshot().restarts, 1) << "nothing is written to a station already moved";
    EXPECT_EQ(lastLedgerLine().outcome, "already-moved");
    EXPECT_EQ(lastLedgerLine().channelBefore, 1902);
}

TEST_F(GuiEndToEnd, StationOfAnotherSystemIsRefused) {
    sim::DefaultStationOptions options;
    options.system = 0x00;
    startStation(sim::makeDefaultStation(options));
    openWindow();

    const SeenModal refused = runOnce();
    EXPECT_EQ(refused.icon, QMessageBox::Warning);
    EXPECT_EQ(refused.title, "Warning");
    EXPECT_EQ(refused.text, job_messages::foreignSystem());
    EXPECT_EQ(host_->snapshot().rom[0xC004], 0x00);
    EXPECT_EQ(host_->snapshot().restarts, 0);
    EXPECT_EQ(lastLedgerLine().outcome, "other-system");
    EXPECT_EQ(lastLedgerLine().code, 255);
}

TEST_F(GuiEndToEnd, SilentStationEndsInTheNoAnswerBox) {
    sim::FaultScript silent;
    silent.powerLostFrom(0);
    startStation(sim::makeDefaultStation(), silent);
    openWindow();

    const SeenModal box = runOnce();
    EXPECT_EQ(box.icon, QMessageBox::Warning);
    EXPECT_EQ(box.title, "Warning");
    EXPECT_EQ(box.text, QString::fromUtf8("Нет ответа от Станции."));
    const LedgerEntry line = lastLedgerLine();
    EXPECT_EQ(line.outcome, "no-answer");
    EXPECT_EQ(line.code, -1);
    EXPECT_FALSE(line.address.has_value()) << "nothing was read";
    EXPECT_GE(line.seconds, 2.5) << "two header time-outs";
}

// Runs the window must not report as moved: a station that keeps no writes,
// one lost after its first write, and no backup possible. Each gets its own
// warning and ledger line, and no system code reaches the station.
TEST_F(GuiEndToEnd, RunsThatDidNotMoveTheStationSayWhatHappened) {
    const QString backups = logDirectoryPath() + QStringLiteral("/backups");
    auto setBackupsWritable = [&](bool writable) {
        QDir logDir(logDirectoryPath());
        if (writable) {
            ASSERT_TRUE(QFile::remove(backups));
            if (logDir.exists(QStringLiteral("backups.away"))) {
                ASSERT_TRUE(logDir.rename(QStringLiteral("backups.away"), QStringLiteral("backups")));
            }
            return;
        }
        if (logDir.exists(QStringLiteral("backups"))) {
            ASSERT_TRUE(logDir.rename(QStringLiteral("backups"), QStringLiteral("backups.away")));
        }
        writeFile(backups.toStdString(), "not a folder");
    };
    sim::FaultScript keepsNothing;
    keepsNothing.always(sim::Fault::ignoreWrite());
    sim::FaultScript lostAfterTable;
    lostAfterTable.powerLostFrom(18);
    const struct {
        const char* what;
        sim::FaultScript faults;
        bool noBackups;
        QString text;
        const char* outcome;
        const char* verified;
        const char* traced;   // a line of the trace starts so
        QString note;         // the ledger line's note
    } cases[] = {
        {"keeps no writes", keepsNothing, false, job_messages::notKept() + QStringLiteral(" (8)"), "verify-failed", "no",
         "read back 0xC00C: F4 instead of 6E", QString()},
        {"lost after the first write", lostAfterTable, false, job_messages::partlyWritten() + QStringLiteral(" (-1)"),
         "partly-written", "", "20 BC 63 02", QString()},
        {"no backup possible", sim::FaultScript(), true,
         QString::fromUtf8("Не удалось сохранить резервную копию параметров станции в %1. Станция не изменена.")
             .arg(QFileInfo(backups).absoluteFilePath()),
         "failed", "", "Backup of the parameter block could not be saved: ",
         QStringLiteral("backup not saved: cannot create %1").arg(QFileInfo(backups).absoluteFilePath())},
    };
    for (const auto& c : cases) {
        startStation(sim::makeDefaultStation(), c.faults);
        openWindow();
        if (c.noBackups) setBackupsWritable(false);
        TraceCapture trace;
        const SeenModal box = runOnce();
        if (c.noBackups) setBackupsWritable(true);
        const std::vector<std::string> lines = trace.lines();
        EXPECT_TRUE(std::any_of(lines.begin(), lines.end(),
                                [&](const std::string& line) { return line.rfind(c.traced, 0) == 0; }))
            << c.what << ": no trace line " << c.traced;

        EXPECT_EQ(box.icon, QMessageBox::Warning) << c.what;
        EXPECT_EQ(box.title, "Warning") << c.what;
        EXPECT_EQ(box.text, c.text) << c.what;
        for (const SeenWrite& write : romWrites(host_->frames()))
            EXPECT_NE(write.address, 0xC004) << c.what << ": the system code was written";
        if (c.noBackups) {
            EXPECT_TRUE(romWrites(host_->frames()).empty()) << c.what;
        }
        EXPECT_EQ(host_->snapshot().rom[0xC004], 0x9E) << c.what;
        EXPECT_EQ(restartsSent(host_->frames()), 0) << c.what;
        const LedgerEntry line = lastLedgerLine();
        EXPECT_EQ(line.outcome, QLatin1String(c.outcome)) << c.what;
        EXPECT_EQ(line.verified, QLatin1String(c.verified)) << c.what;
        EXPECT_EQ(line.note, c.note) << c.what;
        EXPECT_EQ(line.address, std::optional<int>(0x0123)) << c.what;
        stopStation();
    }
}
