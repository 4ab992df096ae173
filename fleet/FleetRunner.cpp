#include "FleetRunner.h"

#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <memory>

#include "StatusBoard.h"
#include "StopRequests.h"
#include "TerminalSize.h"

namespace {

// How often --all --wait looks for ports attached since.
constexpr int kRediscoverMs = 3000;

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

int runFleet(const std::vector<FleetPort>& ports, const FleetSettings& settings, bool live) {
    StatusBoard board(live, [] { return terminalSize(fileno(stderr)); });
    stop_requests::StopNotifier stops;
    QEventLoop loop;
    QTimer rediscovery;
    bool stopping = false;

    std::vector<std::unique_ptr<PortWorker>> workers;
    auto allDone = [&workers] {
        return std::all_of(workers.begin(), workers.end(), [](const auto& w) { return w->finished(); });
    };
    // Never two workers on one device, however its paths name it.
    const PortWorker::DeviceTaken taken = [&workers](const PortWorker* self, const QString& path) {
        const QString device = deviceIdentity(path);
        return std::any_of(workers.begin(), workers.end(), [&](const auto& w) {
            return w.get() != self && deviceIdentity(w->devicePath()) == device;
        });
    };
    auto addWorker = [&](const FleetPort& port) {
        const std::size_t line = board.add(port.name);
        auto worker = std::make_unique<PortWorker>(port, settings, taken);
        QObject::connect(worker.get(), &PortWorker::status, [&board, line](const QString& text) { board.set(line, text); });
        QObject::connect(worker.get(), &PortWorker::message, [&board, name = port.name](const QString& text) {
            board.note(QStringLiteral("%1: %2").arg(name, text));
        });
        QObject::connect(worker.get(), &PortWorker::runEnded, [&board, &settings](const PortRunRecord& run) {
            if (settings.wait) board.print(runLine(run), true);
        });
        QObject::connect(worker.get(), &PortWorker::done, &loop, [&loop, &allDone] {
            if (allDone()) loop.quit();
        }, Qt::QueuedConnection);
        workers.push_back(std::move(worker));
        return workers.back().get();
    };
    for (const FleetPort& port : ports) addWorker(port);
    QObject::connect(&stops, &stop_requests::StopNotifier::requested, [&](int signal) {
        stopping = true;
        rediscovery.stop();
        for (auto& worker : workers) worker->stop(signal);
        // --all --wait before any port was found: no worker will say done.
        if (allDone()) QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    // Adapters plugged in while waiting get a worker of their own.
    if (settings.wait && settings.discover) {
        QObject::connect(&rediscovery, &QTimer::timeout, [&] {
            if (stopping) return;
            for (const FleetPort& port : settings.discover())
                if (!taken(nullptr, port.devicePath)) addWorker(port)->start();
        });
        rediscovery.start(kRediscoverMs);
    }
    for (std::size_t i = 0; i < ports.size(); ++i) workers[i]->start();
    // Waiting goes on until interrupted, also while no port is there yet.
    if (settings.wait || !allDone()) loop.exec();
    rediscovery.stop();

    return reportFleet(board, workers);
}
