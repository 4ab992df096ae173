#pragma once
// The fleet job behind the fleet window: one PortWorker per checked port,
// each waiting for station after station as `rechannel-cli program --wait`
// does, with the same child runs, outcomes, ledger lines and stop rules.
// Qt Core only; the window shows what it tells.
#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>
#include <map>
#include <memory>
#include <vector>

#include "PortWorker.h"

// A port as discovery lists it now.
struct FleetPortInfo {
    QString name;          // "COM5", "ttyUSB0", a published simulated station's name
    QString devicePath;
    QString description;
};

// Every port discovery lists, each device once (a published link and its
// node name the same device), as `program --all` takes them. False, with the
// reason, when the ports cannot be listed.
bool listFleetPorts(std::vector<FleetPortInfo>* ports, QString* error);

class FleetSession : public QObject {
    Q_OBJECT
public:
    // `program`: rechannel-cli, whose children do every run.
    explicit FleetSession(const QString& program, QObject* parent = nullptr);
    ~FleetSession() override;

    // The ports as listed now: a worker looks its port's name up here before
    // every probe, so a port that vanished is waited for.
    void setPorts(const std::vector<FleetPortInfo>& ports);

    // A port appeared or vanished: the workers waiting for theirs look now.
    void portsChanged();
    // Starts the work; the ports are then added one by one.
    void start();
    bool started() const { return started_; }
    // A checked port is worked on until it is released or the session stops.
    void work(const QString& port);
    // Stops the work on one port (unchecked, filtered out): as stop() does.
    void release(const QString& port);
    // Nothing new starts; a run before its first write stops, one in its
    // writes finishes. finished() once every worker is done.
    void stop();
    bool stopping() const { return stopping_; }
    // The ports whose work has not ended yet.
    QStringList busyPorts() const;
    bool working(const QString& port) const;

signals:
    void activity(const QString& port, const QString& what, int address);
    // A run has ended; its ledger line is written. `device` is the path the
    // child opened (the ledger's port).
    void runEnded(const QString& port, const QString& device, const PortRunRecord& run);
    // A line a child wrote for people.
    void message(const QString& port, const QString& line);
    void finished();

private:
    void onWorkerDone(const QString& port);
    void reapLater();

    FleetSettings settings_;
    QHash<QString, QString> devices_;   // name -> device path, as listed now
    std::map<QString, std::unique_ptr<PortWorker>> workers_;
    std::vector<std::unique_ptr<PortWorker>> ended_;   // done, deleted from the event loop
    bool started_ = false;
    bool stopping_ = false;
    DeviceIdentities identities_;
};
