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
    // Shared by the platforms: the coalescing timer, and the call their
    // event sources make on the watcher's thread for every event.
    void setUpCoalescing();
    void noteEvent();

    struct Platform;
    std::unique_ptr<Platform> platform_;
    QTimer coalesce_;
    bool started_ = false;
};
