#pragma once
// Turns SIGINT, SIGTERM and SIGHUP (a closed terminal) into a Qt signal on
// the event loop, so the fleet runner can pass them on to its children and
// wait for them all.
#include <QObject>
#include <memory>

class QSocketNotifier;

class StopSignals : public QObject {
    Q_OBJECT
public:
    explicit StopSignals(QObject* parent = nullptr);
    ~StopSignals() override;   // the previous handlers come back

signals:
    void stopRequested(int signal);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
