#include "PortWatcher.h"

// What every platform shares: the events become one changed() a little
// after the first. The platform part (port_watcher_<platform>.cpp) defines
// Platform, the constructor, the destructor and start().

void PortWatcher::setUpCoalescing() {
    coalesce_.setSingleShot(true);
    connect(&coalesce_, &QTimer::timeout, this, &PortWatcher::changed);
}

void PortWatcher::noteEvent() {
    if (!coalesce_.isActive()) coalesce_.start(kCoalesceMs);
}
