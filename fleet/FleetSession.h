#pragma once
// A fleet at work: the one core under `rechannel-cli program --port/--all`
// and the fleet window. A PortWorker per port, never two on one device
// however its names point at it; port changes passed on to every worker
// (and, with a discovery, a worker for each port that appears); one stop for
// all; the end once every worker has finished. Qt Core only: each front end
// shows what it tells in its own words.
#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

#include "PortWorker.h"

class FleetSession : public QObject {
    Q_OBJECT
public:
    explicit FleetSession(FleetSettings settings, QObject* parent = nullptr);
    ~FleetSession() override;

    // Begins the work (again, after a stop has finished); the ports are then
    // given one by one with work().
    void start();
    bool started() const { return started_; }
    bool stopping() const { return stopping_; }
    // Works on `port` until it is released or the session stops; nothing
    // while a worker of that name has not finished.
    void work(const FleetPort& port);
    // Stops the work on one port as stop() does on all.
    void release(const QString& name, int signal);
    // Nothing new starts; a run before its first write stops, one in its
    // writes finishes. `signal` goes to each running child (as a stop line
    // to a programming run). finished() once every worker is done.
    void stop(int signal);
    // A port appeared or vanished: with a discovery in the settings each port
    // it lists that no worker has gets one; every waiting worker looks now.
    void portsChanged();

    // The ports whose work has not finished yet, in the order they came.
    QStringList busyPorts() const;
    bool working(const QString& name) const;
    bool allDone() const;
    // Every run, port by port in the order the ports came, each port's in
    // order.
    std::vector<PortRunRecord> runs() const;

signals:
    void portAdded(const QString& port);
    void activity(const QString& port, const PortActivity& now);
    // A line a programming run's child wrote for people.
    void message(const QString& port, const QString& line);
    // A file beside a run of the port could not be written.
    void problem(const QString& port, const FleetProblem& problem);
    // A run has ended; its ledger line is written.
    void runEnded(const QString& port, const PortRunRecord& run);
    // The port's worker has finished: released, stopped, or its run done.
    void portDone(const QString& port);
    // Every worker has finished: after stop(), or without --wait after its run.
    void finished();

private:
    bool taken(const PortWorker* self, const QString& path);
    void onWorkerDone(const QString& port);

    FleetSettings settings_;
    std::vector<std::unique_ptr<PortWorker>> workers_;   // in the order the ports came; kept for their runs
    DeviceIdentities identities_;
    bool started_ = false;
    bool stopping_ = false;
};
