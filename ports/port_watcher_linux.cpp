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

class PortWatcher::Platform final : public PortWatcher::Subscription {
public:
    explicit Platform(PortWatcher& watcher) {
        if (openMonitor()) {
            notifier_ = std::make_unique<QSocketNotifier>(udev_monitor_get_fd(monitor_), QSocketNotifier::Read);
            QObject::connect(notifier_.get(), &QSocketNotifier::activated, &watcher, [this, &watcher] {
                if (drain()) watcher.noteEvent();
            });
        }
        virtualDir_ = QDir::cleanPath(QString::fromStdString(virtualPortDirectory()));
        watchFolder();
        QObject::connect(&folder_, &QFileSystemWatcher::directoryChanged, &watcher, [this, &watcher] {
            watchFolder();
            watcher.noteEvent();
        });
    }

    ~Platform() override {
        notifier_.reset();
        if (monitor_) udev_monitor_unref(monitor_);
        if (context_) udev_unref(context_);
    }

    // A udev that runs no daemon, as in a container, gives a monitor that
    // stays silent: the listener's own safety poll covers that.
    bool hearsAdapters() const override { return monitor_ != nullptr; }

private:
    // False when udev gives no monitor; nothing is left open then.
    bool openMonitor() {
        context_ = udev_new();
        if (!context_) return false;
        monitor_ = udev_monitor_new_from_netlink(context_, "udev");
        if (monitor_ && udev_monitor_filter_add_match_subsystem_devtype(monitor_, "tty", nullptr) >= 0 &&
            udev_monitor_enable_receiving(monitor_) >= 0 && udev_monitor_get_fd(monitor_) >= 0)
            return true;
        if (monitor_) udev_monitor_unref(monitor_);
        udev_unref(context_);
        monitor_ = nullptr;
        context_ = nullptr;
        return false;
    }

    // Takes every queued event off the socket (it does not block); true when
    // there was one.
    bool drain() {
        bool any = false;
        for (int i = 0; i < 256; ++i) {
            udev_device* device = udev_monitor_receive_device(monitor_);
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
        ::mkdir(QFile::encodeName(virtualDir_).constData(), 0700);
        if (QFileInfo(virtualDir_).isDir()) {
            for (const QString& other : folder_.directories())
                if (other != virtualDir_) folder_.removePath(other);
            if (!folder_.directories().contains(virtualDir_)) folder_.addPath(virtualDir_);
            return;
        }
        const QString parent = QFileInfo(virtualDir_).absolutePath();
        if (QFileInfo(parent).isDir() && !folder_.directories().contains(parent)) folder_.addPath(parent);
    }

    udev* context_ = nullptr;
    udev_monitor* monitor_ = nullptr;
    std::unique_ptr<QSocketNotifier> notifier_;
    QFileSystemWatcher folder_;
    QString virtualDir_;
};

std::unique_ptr<PortWatcher::Subscription> PortWatcher::subscribe() { return std::make_unique<Platform>(*this); }
