#pragma once
// The fleet window's tests: simulated stations published as ports, a home
// of each test's own, and the window made afresh for every test. Every run
// is a real child rechannel-cli, as in the installed program.
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <gtest/gtest.h>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "DayRecord.h"
#include "FleetPortTable.h"
#include "FleetWindow.h"
#include "Ledger.h"
#include "LogDirectory.h"
#include "PtyStationHost.h"
#include "TempHome.h"
#include "VirtualPorts.h"

// Probes come about a second apart; a bound far above what a few runs take
// on a loaded machine.
constexpr int kLimitMs = 90000;

inline sim::StationModel station(std::uint8_t system, std::uint16_t address) {
    sim::DefaultStationOptions options;
    options.system = system;
    options.address = address;
    return sim::makeDefaultStation(options);
}

// Runs the event loop until `done` holds; false when the bound passed first.
[[nodiscard]] inline bool waitUntil(const std::function<bool()>& done, int limitMs = kLimitMs) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > limitMs) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    return true;
}

// A simulated station published under a port name for the test's life.
class PublishedStation {
public:
    PublishedStation(std::string name, sim::StationModel model, int delayMs = 0) : name_(std::move(name)), host_(model) {
        if (delayMs > 0) {
            // The waiting port's first probe is answered at once (a probe
            // gives a station 100 ms); the run after it is slowed.
            sim::FaultScript slow;
            slow.at(0, sim::Fault::none());
            slow.always(sim::Fault::delay(delayMs));
            host_.setFaults(slow);
        }
        published_ = host_.start() && publishVirtualPort(name_, host_.slavePath());
    }
    ~PublishedStation() { unpublish(); }
    void unpublish() {
        if (published_) unpublishVirtualPort(name_, host_.slavePath());
        published_ = false;
    }
    bool ok() const { return published_; }
    QString name() const { return QString::fromStdString(name_); }
    sim::PtyStationHost& host() { return host_; }
    std::uint8_t system() const { return host_.snapshot().rom[0xC004]; }

private:
    std::string name_;
    sim::PtyStationHost host_;
    bool published_ = false;
};

// Every test in a home of its own (the ledger, the traces, the settings),
// which the window's children inherit.
class FleetWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(home_.isValid());
        home_env_.emplace("HOME", QFile::encodeName(home_.path()));
        ensureLogDirectory();
        QCoreApplication::setOrganizationName(QStringLiteral("rechannel-test"));
        QSettings().clear();
        window_ = std::make_unique<FleetWindow>(QStringLiteral(RECHANNEL_CLI_PATH));
        window_->show();
    }
    void TearDown() override {
        if (window_->session()->started()) {
            window_->stopButton()->click();
            EXPECT_TRUE(waitUntil([this] { return !window_->session()->started(); })) << "the work did not stop";
        }
        window_.reset();
    }

    FleetPortTable* table() const { return window_->ports(); }
    QString cell(const QString& port, int column) const {
        const int row = table()->rowOf(port);
        return row >= 0 && table()->item(row, column) ? table()->item(row, column)->text() : QString();
    }
    [[nodiscard]] bool waitForRow(const QString& port) {
        return waitUntil([&] {
            window_->refreshPorts();
            return table()->rowOf(port) >= 0;
        });
    }
    void check(const QString& port) {
        table()->item(table()->rowOf(port), FleetPortTable::Port)->setCheckState(Qt::Checked);
    }
    [[nodiscard]] bool waitForOutcome(const QString& port, const QString& text) {
        return waitUntil([&] { return cell(port, FleetPortTable::Outcome).startsWith(text); });
    }
    static std::vector<LedgerEntry> ledgerLines() { return ledger::read(ledger::path()); }

    TempHome home_;
    std::optional<ScopedEnv> home_env_;
    std::unique_ptr<FleetWindow> window_;
};

inline const QString kMoved = QStringLiteral("Переведена на новую частоту");
