// Linux: udev reports tty devices as it adds and removes them (after its
// rules made the by-id links discovery lists), and inotify the links that
// simulated stations publish in their folder.
#include <libudev.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QSocketNotifier>

#include "PortWatcher.h"
#include "VirtualPorts.h"

namespace {

// Without udev's monitor the listener is still told to look again now and
// then. (A udev that runs no daemon, as in a container, gives a monitor that
// stays silent: the listener's own safety poll covers that.)
constexpr int kPollMs = 2000;

}  // namespace

struct PortWatcher::Platform {
    udev* context = nullptr;
    udev_monitor* monitor = nullptr;
    std::unique_ptr<QSocketNotifier> notifier;
    QFileSystemWatcher folder;
    QString virtualDir;
    QTimer poll;

    ~Platform() {
        notifier.reset();
        if (monitor) udev_monitor_unref(monitor);
        if (context) udev_unref(context);
    }

    // False when udev gives no monitor; nothing is left open then.
    bool openMonitor() {
        context = udev_new();
        if (!context) return false;
        monitor = udev_monitor_new_from_netlink(context, "udev");
        if (monitor && udev_monitor_filter_add_match_subsystem_devtype(monitor, "tty", nullptr) >= 0 &&
            udev_monitor_enable_receiving(monitor) >= 0 && udev_monitor_get_fd(monitor) >= 0)
            return true;
        if (monitor) udev_monitor_unref(monitor);
        udev_unref(context);
        monitor = nullptr;
        context = nullptr;
        return false;
    }

    // Takes every queued event off the socket (it does not block); true when
    // there was one.
    bool drain() {
        bool any = false;
        for (int i = 0; i < 256; ++i) {
            udev_device* device = udev_monitor_receive_device(monitor);
            if (!device) break;
            udev_device_unref(device);
            any = true;
        }
        return any;
    }

    // The simulated stations' folder is made as their publisher makes it
    // (private to this user), so that it can be watched itself; its parent
    // only while it cannot be.
    void watchFolder() {
        // Fails when it is there already, or cannot be made yet.
        ::mkdir(QFile::encodeName(virtualDir).constData(), 0700);
        if (QFileInfo(virtualDir).isDir()) {
            for (const QString& other : folder.directories())
                if (other != virtualDir) folder.removePath(other);
            if (!folder.directories().contains(virtualDir)) folder.addPath(virtualDir);
            return;
        }
        const QString parent = QFileInfo(virtualDir).absolutePath();
        if (QFileInfo(parent).isDir() && !folder.directories().contains(parent)) folder.addPath(parent);
    }
};

PortWatcher::PortWatcher(QObject* parent) : QObject(parent), platform_(std::make_unique<Platform>()) {
    setUpCoalescing();
}

PortWatcher::~PortWatcher() = default;

void PortWatcher::start() {
    if (started_) return;
    started_ = true;
    Platform& p = *platform_;
    if (p.openMonitor()) {
        p.notifier = std::make_unique<QSocketNotifier>(udev_monitor_get_fd(p.monitor), QSocketNotifier::Read);
        connect(p.notifier.get(), &QSocketNotifier::activated, this, [this] {
            if (platform_->drain()) noteEvent();
        });
    }
    p.virtualDir = QDir::cleanPath(QString::fromStdString(virtualPortDirectory()));
    p.watchFolder();
    connect(&p.folder, &QFileSystemWatcher::directoryChanged, this, [this] {
        platform_->watchFolder();
        noteEvent();
    });
    // Without udev's events, adapters are only seen by a slow poll.
    if (!p.monitor) {
        connect(&p.poll, &QTimer::timeout, this, &PortWatcher::changed);
        p.poll.start(kPollMs);
    }
}
