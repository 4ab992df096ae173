#include "FleetRunner.h"

#include <QEventLoop>
#include <QHash>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <memory>

#include "FleetSession.h"
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
static int reportFleet(StatusBoard& board, const std::vector<PortRunRecord>& runs) {
    board.close();
    board.print(QString());
    for (const QString& line : fleetSummary(runs)) board.print(line);
    for (const PortRunRecord& run : runs)
        if (!outcomeIsDone(run.outcome) && !run.trace.isEmpty())
            board.print(QStringLiteral("%1: %2; trace %3").arg(run.port, run.message, run.trace));
    return fleetExitStatus(runs);
}

// Each port's line on the board, its children's messages above it, and with
// --wait each run's result line as it ends.
static void showOnBoard(FleetSession& fleet, StatusBoard& board, bool wait) {
    auto lines = std::make_shared<QHash<QString, std::size_t>>();
    QObject::connect(&fleet, &FleetSession::portAdded, [&board, lines](const QString& port) {
        lines->insert(port, board.add(port));
    });
    QObject::connect(&fleet, &FleetSession::activity, [&board, lines](const QString& port, const PortActivity& now) {
        board.set(lines->value(port), now);
    });
    QObject::connect(&fleet, &FleetSession::message, [&board](const QString& port, const QString& text) {
        board.note(QStringLiteral("%1: %2").arg(port, text));
    });
    QObject::connect(&fleet, &FleetSession::problem, [&board](const QString& port, const FleetProblem& problem) {
        board.note(QStringLiteral("%1: %2").arg(port, problemText(problem)));
    });
    QObject::connect(&fleet, &FleetSession::runEnded, [&board, wait](const QString&, const PortRunRecord& run) {
        if (wait) board.print(runLine(run), true);
    });
}

int runFleet(const std::vector<FleetPort>& ports, const FleetSettings& settings, bool live) {
    StatusBoard board(live, [] { return terminalSize(fileno(stderr)); });
    stop_requests::StopNotifier stops;
    FleetSession fleet(settings);
    QEventLoop loop;
    showOnBoard(fleet, board, settings.wait);
    QObject::connect(&fleet, &FleetSession::finished, &loop, &QEventLoop::quit, Qt::QueuedConnection);
    QObject::connect(&stops, &stop_requests::StopNotifier::requested, &fleet, &FleetSession::stop);
    // While waiting, a port that appears is taken at once; the slow poll
    // covers what the system does not tell of.
    PortWatcher watcher;
    QTimer safetyPoll;
    if (settings.wait) {
        QObject::connect(&watcher, &PortWatcher::changed, &fleet, &FleetSession::portsChanged);
        QObject::connect(&safetyPoll, &QTimer::timeout, &fleet, &FleetSession::portsChanged);
        watcher.start();
        safetyPoll.start(kSafetyPollMs);
    }
    fleet.start();
    for (const FleetPort& port : ports) fleet.work(port);
    // Waiting goes on until interrupted, also while no port is there yet.
    if (settings.wait || !fleet.allDone()) loop.exec();
    safetyPoll.stop();
    return reportFleet(board, fleet.runs());
}
