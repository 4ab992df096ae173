#include "FleetSession.h"

#include <QDir>
#include <QMetaObject>
#include <algorithm>

FleetSession::FleetSession(FleetSettings settings, QObject* parent) : QObject(parent), settings_(std::move(settings)) {}

FleetSession::~FleetSession() = default;

void FleetSession::start() {
    if (started_) return;
    QDir().mkpath(settings_.traceDir);
    started_ = true;
    stopping_ = false;
}

// Never two workers on one device, however its names point at it: the one
// that holds it keeps it; another waits for the port meanwhile.
bool FleetSession::taken(const PortWorker* self, const QString& path) {
    const QString device = identities_.of(path);
    return std::any_of(workers_.begin(), workers_.end(), [&](const auto& worker) {
        return worker.get() != self && worker->holdsDevice() && identities_.of(worker->devicePath()) == device;
    });
}

void FleetSession::work(const FleetPort& port) {
    if (!started_ || stopping_ || working(port.name)) return;
    auto worker = std::make_unique<PortWorker>(
        port, settings_, [this](const PortWorker* self, const QString& path) { return taken(self, path); });
    PortWorker* raw = worker.get();
    const QString name = port.name;
    connect(raw, &PortWorker::activity, this, [this, name](const PortActivity& now) { emit activity(name, now); });
    connect(raw, &PortWorker::message, this, [this, name](const QString& line) { emit message(name, line); });
    connect(raw, &PortWorker::problem, this, [this, name](const FleetProblem& p) { emit problem(name, p); });
    connect(raw, &PortWorker::runEnded, this, [this, name](const PortRunRecord& run) { emit runEnded(name, run); });
    // From the event loop: the worker that says done is still on the stack.
    connect(raw, &PortWorker::done, this, [this, name] { onWorkerDone(name); }, Qt::QueuedConnection);
    workers_.push_back(std::move(worker));
    emit portAdded(name);
    raw->start();
}

void FleetSession::release(const QString& name, int signal) {
    for (auto& worker : workers_)
        if (worker->name() == name && !worker->finished()) worker->stop(signal);
}

void FleetSession::stop(int signal) {
    if (!started_) return;
    stopping_ = true;
    for (auto& worker : workers_)
        if (!worker->finished()) worker->stop(signal);
    // Nothing was running (--all --wait before any port was found): done at
    // once, but from the event loop as always.
    if (allDone()) QMetaObject::invokeMethod(this, [this] { onWorkerDone(QString()); }, Qt::QueuedConnection);
}

void FleetSession::portsChanged() {
    if (!started_ || stopping_) return;
    if (settings_.discover)
        for (const FleetPort& port : settings_.discover())
            if (!taken(nullptr, port.devicePath) && !working(port.name)) work(port);
    for (auto& worker : workers_)
        if (!worker->finished()) worker->portsChanged();
}

QStringList FleetSession::busyPorts() const {
    QStringList busy;
    for (const auto& worker : workers_)
        if (!worker->finished()) busy << worker->name();
    return busy;
}

bool FleetSession::working(const QString& name) const {
    return std::any_of(workers_.begin(), workers_.end(),
                       [&name](const auto& worker) { return worker->name() == name && !worker->finished(); });
}

bool FleetSession::allDone() const {
    return std::all_of(workers_.begin(), workers_.end(), [](const auto& worker) { return worker->finished(); });
}

std::vector<PortRunRecord> FleetSession::runs() const {
    std::vector<PortRunRecord> all;
    for (const auto& worker : workers_) all.insert(all.end(), worker->runs().begin(), worker->runs().end());
    return all;
}

void FleetSession::onWorkerDone(const QString& port) {
    if (!port.isEmpty()) emit portDone(port);
    if (started_ && (stopping_ || !settings_.wait) && allDone()) {
        started_ = false;
        emit finished();
    }
}
