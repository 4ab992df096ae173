#include "FleetRunner.h"

#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <memory>

#include "PortWatcher.h"
#include "StatusBoard.h"
#include "StopRequests.h"
#include "TerminalSize.h"

namespace {

// How often --wait looks for ports attached since, whatever the watcher says.
constexpr int kSafetyPollMs = 3000;

// One result line, as --wait prints it when a run ends.
QString runLine(const PortRunRecord& run) {
    QString line = QStringLiteral("%1  %2  %3").arg(run.port, addressText(run.address), run.outcomeName());
    if (!run.backup.isEmpty()) line += QStringLiteral("  backup %1").arg(run.backup);
    if (!outcomeIsDone(run.outcome) && !run.message.isEmpty()) line += QStringLiteral("  (%1)").arg(run.message);
    return line;
}

}  // namespace

int fleetExitStatus(const std::vector<PortRunRecord>& runs) {
    int status = 0;
    for (auto run = runs.begin(); run != runs.end(); ++run) {
        if (outcomeIsDone(run->outcome) || run->noStation) continue;
        const bool superseded = std::any_of(run + 1, runs.end(), [&run](const PortRunRecord& later) {
            return later.port == run->port && (!run->address || later.address == run->address);
        });
        if (!superseded) status = std::max(status, run->exitStatus);
    }
    return status;
}

QStringList fleetSummary(const std::vector<PortRunRecord>& runs) {
    const QStringList header{QStringLiteral("port"), QStringLiteral("address"), QStringLiteral("outcome"),
                             QStringLiteral("backup")};
    std::vector<QStringList> rows{header};
    for (const PortRunRecord& run : runs) rows.push_back({run.port, addressText(run.address), run.outcomeName(), run.backup});
    int widths[3] = {0, 0, 0};
    for (const QStringList& row : rows)
        for (int i = 0; i < 3; ++i) widths[i] = std::max(widths[i], static_cast<int>(row[i].size()));
    QStringList lines;
    for (const QStringList& row : rows)
        lines << QStringLiteral("%1  %2  %3  %4")
                     .arg(row[0], -widths[0])
                     .arg(row[1], -widths[1])
                     .arg(row[2], -widths[2])
                     .arg(row[3])
                     .trimmed();
    return lines;
}

// Closes the board and prints the summary table, then where each failed
// run's trace is; returns the fleet's exit status. The table lists the ports
// in the order given (those found later after them), each port's runs in
// order.
static int reportFleet(StatusBoard& board, const std::vector<std::unique_ptr<PortWorker>>& workers) {
    std::vector<PortRunRecord> ordered;
    for (const auto& worker : workers) ordered.insert(ordered.end(), worker->runs().begin(), worker->runs().end());
    board.close();
    board.print(QString());
    for (const QString& line : fleetSummary(ordered)) board.print(line);
    for (const PortRunRecord& run : ordered)
        if (!outcomeIsDone(run.outcome) && !run.trace.isEmpty())
            board.print(QStringLiteral("%1: %2; trace %3").arg(run.port, run.message, run.trace));
    return fleetExitStatus(ordered);
}

namespace {

// The runner's live state: its workers, each with its line on the board.
struct Fleet {
    Fleet(StatusBoard& b, const FleetSettings& s) : board(b), settings(s) {}

    StatusBoard& board;
    const FleetSettings& settings;
    QEventLoop loop;
    std::vector<std::unique_ptr<PortWorker>> workers;
    bool stopping = false;
    mutable DeviceIdentities identities;

    bool allDone() const {
        return std::all_of(workers.begin(), workers.end(), [](const auto& w) { return w->finished(); });
    }
    // Never two workers on one device, however its paths name it.
    bool taken(const PortWorker* self, const QString& path) const {
        const QString device = identities.of(path);
        return std::any_of(workers.begin(), workers.end(), [&](const auto& w) {
            return w.get() != self && identities.of(w->devicePath()) == device;
        });
    }
    PortWorker* add(const FleetPort& port);
    // Adapters plugged in while waiting get a worker of their own; waiting
    // ports look at once.
    void portsChanged();
    void stop(int signal);
};

PortWorker* Fleet::add(const FleetPort& port) {
    const std::size_t line = board.add(port.name);
    auto worker = std::make_unique<PortWorker>(
        port, settings, [this](const PortWorker* self, const QString& path) { return taken(self, path); });
    QObject::connect(worker.get(), &PortWorker::status, [this, line](const QString& text) { board.set(line, text); });
    QObject::connect(worker.get(), &PortWorker::message, [this, name = port.name](const QString& text) {
        board.note(QStringLiteral("%1: %2").arg(name, text));
    });
    QObject::connect(worker.get(), &PortWorker::runEnded, [this](const PortRunRecord& run) {
        if (settings.wait) board.print(runLine(run), true);
    });
    QObject::connect(worker.get(), &PortWorker::done, &loop, [this] {
        if (allDone()) loop.quit();
    }, Qt::QueuedConnection);
    workers.push_back(std::move(worker));
    return workers.back().get();
}

void Fleet::portsChanged() {
    if (stopping) return;
    if (settings.discover)
        for (const FleetPort& port : settings.discover())
            if (!taken(nullptr, port.devicePath)) add(port)->start();
    for (auto& worker : workers) worker->portsChanged();
}

void Fleet::stop(int signal) {
    stopping = true;
    for (auto& worker : workers) worker->stop(signal);
    // --all --wait before any port was found: no worker will say done.
    if (allDone()) QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
}

}  // namespace

int runFleet(const std::vector<FleetPort>& ports, const FleetSettings& settings, bool live) {
    StatusBoard board(live, [] { return terminalSize(fileno(stderr)); });
    stop_requests::StopNotifier stops;
    Fleet fleet(board, settings);
    for (const FleetPort& port : ports) fleet.add(port);
    QObject::connect(&stops, &stop_requests::StopNotifier::requested, [&fleet](int signal) { fleet.stop(signal); });
    // While waiting, a port that appears is taken at once; the slow poll
    // covers what the system does not tell of.
    PortWatcher watcher;
    QTimer safetyPoll;
    if (settings.wait) {
        QObject::connect(&watcher, &PortWatcher::changed, [&fleet] { fleet.portsChanged(); });
        QObject::connect(&safetyPoll, &QTimer::timeout, [&fleet] { fleet.portsChanged(); });
        watcher.start();
        safetyPoll.start(kSafetyPollMs);
    }
    for (std::size_t i = 0; i < ports.size(); ++i) fleet.workers[i]->start();
    // Waiting goes on until interrupted, also while no port is there yet.
    if (settings.wait || !fleet.allDone()) fleet.loop.exec();
    safetyPoll.stop();
    return reportFleet(board, fleet.workers);
}
