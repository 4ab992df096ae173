// The fleet window with sixteen ports at once: how long until all sixteen
// stations are moved, and how long the window's event loop is ever kept
// from answering meanwhile (a 10 ms timer's largest and 99th-percentile
// late arrival). Runs offscreen in a throw-away home and runtime directory.
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
#include <cstdio>
#include <memory>
#include <vector>

#include "FleetPortTable.h"
#include "FleetWindow.h"
#include "PtyStationHost.h"
#include "VirtualPorts.h"

namespace {

constexpr int kPorts = 16;
constexpr int kTickMs = 10;
constexpr qint64 kLimitMs = 180000;

int movedRows(const FleetPortTable& table) {
    int moved = 0;
    for (int row = 0; row < table.rowCount(); ++row)
        if (table.item(row, FleetPortTable::Outcome) &&
            table.item(row, FleetPortTable::Outcome)->text().startsWith(QStringLiteral("Переведена")))
            ++moved;
    return moved;
}

}  // namespace

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
    std::vector<std::unique_ptr<sim::PtyStationHost>> hosts;
    for (int i = 0; i < kPorts; ++i) {
        sim::DefaultStationOptions options;
        options.address = static_cast<std::uint16_t>(800 + i);
        hosts.push_back(std::make_unique<sim::PtyStationHost>(sim::makeDefaultStation(options)));
        if (!hosts.back()->start() ||
            !publishVirtualPort("Sixteen " + std::to_string(i + 1), hosts.back()->slavePath()))
            return 1;
    }
    FleetWindow window(QString::fromLocal8Bit(argv[1]));
    window.show();
    window.matchEdit()->setText(QStringLiteral("Sixteen"));
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
    while (movedRows(*window.ports()) < kPorts && timer.elapsed() < kLimitMs)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    const qint64 allMoved = timer.elapsed();
    const int moved = movedRows(*window.ports());
    window.stopButton()->click();
    QElapsedTimer stopping;
    stopping.start();
    while (window.session()->started() && stopping.elapsed() < kLimitMs)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    tick.stop();
    std::sort(late.begin(), late.end());
    const qint64 worst = late.empty() ? 0 : late.back();
    const qint64 p99 = late.empty() ? 0 : late[late.size() * 99 / 100];
    std::printf("%d of %d stations moved in %.1f s; stopped in %.1f s\n", moved, kPorts, allMoved / 1000.0,
                stopping.elapsed() / 1000.0);
    std::printf("event loop late by at most %lld ms (99th percentile %lld ms) over %zu ticks of %d ms\n",
                static_cast<long long>(worst), static_cast<long long>(p99), late.size(), kTickMs);
    for (int i = 0; i < kPorts; ++i) unpublishVirtualPort("Sixteen " + std::to_string(i + 1), hosts[i]->slavePath());
    return moved == kPorts ? 0 : 1;
}
