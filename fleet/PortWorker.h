#pragma once
// The fleet's work on one port: one programming run, or with --wait a loop
// that probes the port about every second, programs each newly attached
// station once and waits for it to leave.
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <memory>
#include <optional>
#include <vector>

#include "ChildRun.h"

struct FleetPort {
    QString name;          // as the user named it, or the port list shows it
    QString devicePath;
};

struct FleetSettings {
    QString program;       // rechannel-cli itself
    QString traceDir;      // per-run trace files go here
    QStringList childOptions;   // passed to every program run (--no-verify, --no-backup)
    bool wait = false;
};

// One programming run on a port, as the summary shows it.
struct PortRunRecord {
    QString port;
    std::optional<int> address;
    QString outcome;
    QString backup;
    QString trace;
    int exitStatus = 0;
    QString message;       // the child's outcome line
};

class PortWorker : public QObject {
    Q_OBJECT
public:
    // A station that stopped answering this long has left the port; shorter
    // silences (its own restart) are the same station.
    static constexpr int kGoneAfterSilentMs = 5000;
    static constexpr int kProbeIntervalMs = 1000;

    PortWorker(FleetPort port, FleetSettings settings, QObject* parent = nullptr);
    void start();
    // No new runs or probes; a running child gets the signal.
    void stop(int signal);
    bool finished() const { return finished_; }
    const std::vector<PortRunRecord>& runs() const { return runs_; }

signals:
    void status(const QString& text);
    void runEnded(const PortRunRecord& run);
    void done();

private:
    void probe();
    void onProbed();
    void program(std::optional<int> probed);
    void onProgrammed(std::optional<int> probed);
    void logKilledRun(const PortRunRecord& run, double seconds);
    void next();
    void finish();
    QString traceFile() const;

    FleetPort port_;
    FleetSettings settings_;
    std::unique_ptr<ChildRun> child_;
    QTimer pause_;
    QElapsedTimer silent_;
    std::optional<int> attached_;   // programmed here and not yet gone
    // The last station this port moved (or found moved). A slow reboot can
    // be silent for longer than any absence test: that station answering
    // again is the same station, never a new run, until another one came.
    std::optional<int> lastDone_;
    bool stopping_ = false;
    bool finished_ = false;
    std::vector<PortRunRecord> runs_;
};
