#pragma once
// Tells when a serial port appeared or vanished, so that whoever lists the
// ports (the window, the fleet runner) looks again at once rather than on a
// slow poll. Linux: a udev monitor on the tty subsystem and the folder where
// simulated stations publish their ports; Windows: the system's
// device-interface notifications for COM ports. What changed is not said:
// the listener discovers the ports again.
#include <QObject>
#include <QTimer>
#include <memory>

class PortWatcher : public QObject {
    Q_OBJECT
public:
    // A burst of events (an adapter brings several device nodes and links)
    // becomes one changed(), this long after the first.
    static constexpr int kCoalesceMs = 30;

    explicit PortWatcher(QObject* parent = nullptr);
    ~PortWatcher() override;

    // Starts watching; a second call does nothing. Where the system gives no
    // notifications, changed() comes from a slow poll instead.
    void start();

signals:
    void changed();

private:
    // Where the system gives no notifications of adapters, the listener is
    // told to look again this often.
    static constexpr int kPollMs = 2000;

    // The system's notifications while it lives (port_watcher_<platform>.cpp):
    // every event becomes noteEvent() on the watcher's thread.
    class Subscription {
    public:
        virtual ~Subscription() = default;
        // False where the system tells nothing of adapters coming and going
        // (no udev monitor; a Windows without the notifications).
        virtual bool hearsAdapters() const = 0;
    };
    class Platform;   // the one Subscription of each platform
    // Per platform; never null.
    std::unique_ptr<Subscription> subscribe();
    void noteEvent();

    QTimer coalesce_;
    QTimer poll_;
    // Last, so it ends first: no event comes after the timers are gone.
    std::unique_ptr<Subscription> subscription_;
    bool started_ = false;
};
