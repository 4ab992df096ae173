// The fleet window with one port, then sixteen ports at once: how long until
// every station is moved (the ratio of the two), and how long the window's
// event loop is ever kept from answering meanwhile (a 10 ms timer's largest
// and 99th-percentile late arrival). Runs offscreen in a throw-away home and runtime directory.
//
//   bench_fleet_window CLI   (CLI is the built rechannel-cli)

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "FleetPortTable.h"
#include "FleetWindow.h"
#include "PtyStationHost.h"
#include "VirtualPorts.h"

namespace {

constexpr int kTickMs = 10;
constexpr qint64 kLimitMs = 180000;
constexpr double kTarget16 = 1.05;

int movedRows(const FleetPortTable& table) {
    int moved = 0;
    for (int row = 0; row < table.rowCount(); ++row)
        if (table.item(row, FleetPortTable::Outcome) &&
            table.item(row, FleetPortTable::Outcome)->text().startsWith(QStringLiteral("Переведена")))
            ++moved;
    return moved;
}

struct Round {
    int moved = 0;
    qint64 allMovedMs = 0;
    qint64 stopMs = 0;
    qint64 worstLateMs = 0;
    qint64 p99LateMs = 0;
    std::size_t ticks = 0;
};

// `ports` simulated stations published as "<prefix> N", worked by one window
// from "Начать" until every row says moved, then stopped.
Round runRound(const QString& cli, int ports, const std::string& prefix, std::uint16_t firstAddress) {
    Round round;
    std::vector<std::unique_ptr<sim::PtyStationHost>> hosts;
    for (int i = 0; i < ports; ++i) {
        sim::DefaultStationOptions options;
        options.address = static_cast<std::uint16_t>(firstAddress + i);
        hosts.push_back(std::make_unique<sim::PtyStationHost>(sim::makeDefaultStation(options)));
        if (!hosts.back()->start() || !publishVirtualPort(prefix + " " + std::to_string(i + 1), hosts.back()->slavePath()))
            return round;
    }
    FleetWindow window(cli);
    window.show();
    window.matchEdit()->setText(QString::fromStdString(prefix));
    window.allPorts()->setChecked(true);
    window.refreshPorts();

    std::vector<qint64> late;
    QElapsedTimer sinceTick;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        late.push_back(std::max<qint64>(0, sinceTick.elapsed() - kTickMs));
        sinceTick.restart();
    });
    QElapsedTimer timer;
    timer.start();
    sinceTick.start();
    tick.start(kTickMs);
    window.startButton()->click();
    while (movedRows(*window.ports()) < ports && timer.elapsed() < kLimitMs)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    round.allMovedMs = timer.elapsed();
    round.moved = movedRows(*window.ports());
    window.stopButton()->click();
    QElapsedTimer stopping;
    stopping.start();
    while (window.session()->started() && stopping.elapsed() < kLimitMs)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    round.stopMs = stopping.elapsed();
    tick.stop();
    std::sort(late.begin(), late.end());
    round.ticks = late.size();
    round.worstLateMs = late.empty() ? 0 : late.back();
    round.p99LateMs = late.empty() ? 0 : late[late.size() * 99 / 100];
    for (int i = 0; i < ports; ++i) unpublishVirtualPort(prefix + " " + std::to_string(i + 1), hosts[i]->slavePath());
    return round;
}

void print(const Round& round, int ports) {
    std::printf("%d of %d stations moved in %.2f s; stopped in %.2f s; event loop late by at most %lld ms "
                "(99th percentile %lld ms) over %zu ticks of %d ms\n",
                round.moved, ports, round.allMovedMs / 1000.0, round.stopMs / 1000.0,
                static_cast<long long>(round.worstLateMs), static_cast<long long>(round.p99LateMs), round.ticks,
                kTickMs);
}

}  // namespace

// One station in the window, then sixteen at once: the ratio of the times
// until every station is moved.
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home, runtime;
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
    QApplication application(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_fleet_window CLI\n");
        return 2;
    }
    const QString cli = QString::fromLocal8Bit(argv[1]);
    const Round one = runRound(cli, 1, "Single", 790);
    print(one, 1);
    const Round sixteen = runRound(cli, 16, "Sixteen", 800);
    print(sixteen, 16);
    if (one.moved != 1 || sixteen.moved != 16) return 1;
    std::printf("=\t16 ports at once vs one (window)\t%.3f\t%.3f\t%.2f\n", static_cast<double>(sixteen.allMovedMs),
                static_cast<double>(one.allMovedMs), kTarget16);
    return 0;
}
