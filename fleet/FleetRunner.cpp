#include "FleetRunner.h"

#include <QEventLoop>
#include <algorithm>
#include <cstdio>
#include <memory>

#include "LedgerSummary.h"
#include "StatusBoard.h"
#include "StopSignals.h"

namespace {

QString addressText(const std::optional<int>& address) { return address ? QString::number(*address) : QStringLiteral("-"); }

// One result line, as --wait prints it when a run ends.
QString runLine(const PortRunRecord& run) {
    QString line = QStringLiteral("%1  %2  %3").arg(run.port, addressText(run.address), run.outcome);
    if (!run.backup.isEmpty()) line += QStringLiteral("  backup %1").arg(run.backup);
    if (!ledgerOutcomeIsDone(run.outcome) && !run.message.isEmpty()) line += QStringLiteral("  (%1)").arg(run.message);
    return line;
}

}  // namespace

int fleetExitStatus(const std::vector<PortRunRecord>& runs) {
    int status = 0;
    for (const PortRunRecord& run : runs)
        if (!ledgerOutcomeIsDone(run.outcome)) status = std::max(status, run.exitStatus);
    return status;
}

QStringList fleetSummary(const std::vector<PortRunRecord>& runs) {
    const QStringList header{QStringLiteral("port"), QStringLiteral("address"), QStringLiteral("outcome"),
                             QStringLiteral("backup")};
    std::vector<QStringList> rows{header};
    for (const PortRunRecord& run : runs) rows.push_back({run.port, addressText(run.address), run.outcome, run.backup});
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

int runFleet(const std::vector<FleetPort>& ports, const FleetSettings& settings, bool terminal) {
    std::vector<QString> names;
    for (const FleetPort& port : ports) names.push_back(port.name);
    StatusBoard board(terminal, names);
    StopSignals stops;
    QEventLoop loop;

    std::vector<std::unique_ptr<PortWorker>> workers;
    std::vector<PortRunRecord> runs;
    auto allDone = [&workers] {
        return std::all_of(workers.begin(), workers.end(), [](const auto& w) { return w->finished(); });
    };
    for (std::size_t i = 0; i < ports.size(); ++i) {
        auto worker = std::make_unique<PortWorker>(ports[i], settings);
        QObject::connect(worker.get(), &PortWorker::status, [&board, i](const QString& text) { board.set(i, text); });
        QObject::connect(worker.get(), &PortWorker::runEnded, [&board, &runs, &settings](const PortRunRecord& run) {
            runs.push_back(run);
            if (settings.wait) board.print(runLine(run), true);
        });
        QObject::connect(worker.get(), &PortWorker::done, &loop, [&loop, &allDone] {
            if (allDone()) loop.quit();
        }, Qt::QueuedConnection);
        workers.push_back(std::move(worker));
    }
    QObject::connect(&stops, &StopSignals::stopRequested, [&workers](int signal) {
        for (auto& worker : workers) worker->stop(signal);
    });
    for (auto& worker : workers) worker->start();
    if (!allDone()) loop.exec();

    // The table lists the ports in the order given, each port's runs in order.
    std::vector<PortRunRecord> ordered;
    for (const auto& worker : workers) ordered.insert(ordered.end(), worker->runs().begin(), worker->runs().end());
    board.close();
    board.print(QString());
    for (const QString& line : fleetSummary(ordered)) board.print(line);
    for (const PortRunRecord& run : ordered)
        if (!ledgerOutcomeIsDone(run.outcome) && !run.trace.isEmpty())
            board.print(QStringLiteral("%1: %2; trace %3").arg(run.port, run.message, run.trace));
    return fleetExitStatus(ordered);
}
