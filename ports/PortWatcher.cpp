#include "PortWatcher.h"

// What every platform shares: the events become one changed() a little
// after the first, and a platform that hears nothing of adapters is polled.
// The platform part (port_watcher_<platform>.cpp) is only its subscription.

PortWatcher::PortWatcher(QObject* parent) : QObject(parent) {
    coalesce_.setSingleShot(true);
    connect(&coalesce_, &QTimer::timeout, this, &PortWatcher::changed);
    connect(&poll_, &QTimer::timeout, this, &PortWatcher::changed);
}

PortWatcher::~PortWatcher() = default;

void PortWatcher::start() {
    if (started_) return;
    started_ = true;
    subscription_ = subscribe();
    if (!subscription_->hearsAdapters()) poll_.start(kPollMs);
}

void PortWatcher::noteEvent() {
    if (!coalesce_.isActive()) coalesce_.start(kCoalesceMs);
}
