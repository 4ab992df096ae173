#pragma once
// Asks a port whether a station is there: one read of the parameter head,
// one attempt, no writes, with a short reply window (a station that is there
// answers within milliseconds). What the fleet's
// waiting ports do again and again, on a thread of their own, and what
// `program --probe` does once.
#include <QObject>
#include <QString>
#include <optional>
#include <thread>

struct ProbeAnswer {
    bool opened = false;            // the port could be opened
    std::optional<int> address;     // the station's address, when it answered
};

// Blocks for at most the reply window, a frame's time after a failed
// answer and the port's open and close.
ProbeAnswer probeStation(const QString& devicePath);

// One probe at a time on a thread of its own; answered() on the owner's
// thread. Destroying it waits for a probe under way (the reply window).
class PortProbe : public QObject {
    Q_OBJECT
public:
    explicit PortProbe(QObject* parent = nullptr);
    ~PortProbe() override;

    // False while a probe is under way.
    bool start(const QString& devicePath);
    bool busy() const { return busy_; }

signals:
    void answered(const ProbeAnswer& answer);

private:
    std::thread thread_;
    bool busy_ = false;
};
