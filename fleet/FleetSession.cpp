#include "FleetSession.h"

#include <QDir>
#include <QMetaObject>
#include <algorithm>
#include <csignal>

#include "LogDirectory.h"
#include "PortDiscovery.h"

bool listFleetPorts(std::vector<FleetPortInfo>* ports, QString* error) {
    PortList found;
    std::wstring why;
    ports->clear();
    if (!tryDiscoverPorts(found, false, &why)) {
        *error = QString::fromStdWString(why);
        return false;
    }
    DeviceIdentities identities;
    for (const PortEntry& entry : found) {
        FleetPortInfo port{QString::fromStdWString(entry.displayName), QString::fromStdWString(entry.devicePath),
                           QString::fromStdWString(entry.description)};
        const bool seen = std::any_of(ports->begin(), ports->end(), [&](const FleetPortInfo& earlier) {
            return earlier.name == port.name || identities.of(earlier.devicePath) == identities.of(port.devicePath);
        });
        if (!seen) ports->push_back(port);
    }
    return true;
}

FleetSession::FleetSession(const QString& program, QObject* parent) : QObject(parent) {
    settings_.program = program;
    settings_.programForks = true;
    settings_.traceDir = logDirectoryPath() + QStringLiteral("/traces");
    settings_.wait = true;
    settings_.resolve = [this](const QString& name) { return devices_.value(name); };
}

FleetSession::~FleetSession() = default;

void FleetSession::setPorts(const std::vector<FleetPortInfo>& ports) {
    devices_.clear();
    for (const FleetPortInfo& port : ports) devices_.insert(port.name, port.devicePath);
}

void FleetSession::portsChanged() {
    for (auto& entry : workers_)
        if (!entry.second->finished()) entry.second->portsChanged();
}

void FleetSession::start() {
    QDir().mkpath(settings_.traceDir);
    started_ = true;
    stopping_ = false;
}

bool FleetSession::working(const QString& port) const {
    const auto worker = workers_.find(port);
    return worker != workers_.end() && !worker->second->finished();
}

void FleetSession::work(const QString& port) {
    if (!started_ || stopping_ || workers_.count(port)) return;
    FleetPort fleetPort{port, devices_.value(port), true};
    // Never two workers on one device, however its names point at it.
    const PortWorker::DeviceTaken taken = [this](const PortWorker* self, const QString& path) {
        const QString device = identities_.of(path);
        return std::any_of(workers_.begin(), workers_.end(), [&](const auto& entry) {
            return entry.second.get() != self && !entry.second->finished() &&
                   identities_.of(entry.second->devicePath()) == device;
        });
    };
    auto worker = std::make_unique<PortWorker>(fleetPort, settings_, taken);
    PortWorker* raw = worker.get();
    connect(raw, &PortWorker::activity, this,
            [this, port](const QString& what, int address) { emit activity(port, what, address); });
    connect(raw, &PortWorker::message, this, [this, port](const QString& line) { emit message(port, line); });
    connect(raw, &PortWorker::runEnded, this,
            [this, port, raw](const PortRunRecord& run) { emit runEnded(port, raw->devicePath(), run); });
    connect(raw, &PortWorker::done, this, [this, port] { onWorkerDone(port); }, Qt::QueuedConnection);
    workers_.emplace(port, std::move(worker));
    raw->start();
}

void FleetSession::release(const QString& port) {
    const auto worker = workers_.find(port);
    if (worker != workers_.end() && !worker->second->finished()) worker->second->stop(SIGTERM);
}

void FleetSession::stop() {
    if (!started_) return;
    stopping_ = true;
    for (auto& entry : workers_)
        if (!entry.second->finished()) entry.second->stop(SIGTERM);
    // Nothing was running: done at once, but from the event loop as always.
    if (busyPorts().isEmpty()) QMetaObject::invokeMethod(this, [this] { onWorkerDone(QString()); }, Qt::QueuedConnection);
}

QStringList FleetSession::busyPorts() const {
    QStringList busy;
    for (const auto& entry : workers_)
        if (!entry.second->finished()) busy << entry.first;
    return busy;
}

// A released port can be checked again later: its done worker goes.
void FleetSession::onWorkerDone(const QString& port) {
    const auto worker = workers_.find(port);
    if (worker != workers_.end() && worker->second->finished()) {
        ended_.push_back(std::move(worker->second));
        workers_.erase(worker);
        reapLater();
    }
    if (stopping_ && started_ && busyPorts().isEmpty()) {
        started_ = false;
        emit finished();
    }
}

// The worker that said done is still on the stack that said it.
void FleetSession::reapLater() {
    QMetaObject::invokeMethod(this, [this] { ended_.clear(); }, Qt::QueuedConnection);
}
