#pragma once
// The fleet's work on one port: one programming run, or with --wait a loop
// that probes the port briefly and often (in this process, on a thread of
// its own), programs each newly attached station once and waits for it to
// leave.
#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "ChildRun.h"
#include "FleetProblem.h"
#include "Ledger.h"
#include "PortActivity.h"
#include "RunOutcome.h"
#include "StationProbe.h"

struct FleetPort {
    QString name;          // as the user named it, or the port list shows it
    QString devicePath;    // where it is now
    // Given by a name, not a path: while waiting it is looked up again before
    // every probe, so a station or adapter that comes back on another device
    // node under the same name is found there.
    bool byName = false;
};

struct FleetSettings {
    QString program;       // rechannel-cli itself
    // The program is rechannel-cli: its runs can be forks of its launcher
    // (ChildProcess.h). Off for any other program.
    bool programForks = false;
    QString traceDir;      // per-run trace files go here
    QStringList childOptions;   // passed to every program run (--no-verify, --no-backup)
    bool wait = false;
    // With --all: a port where nothing answers holds no station (the
    // on-board serial port); its run is "no-station", not a failure.
    bool silentIsNoStation = false;
    // The device a port name stands for now; empty while no port has it.
    std::function<QString(const QString& name)> resolve;
    // With --all and --wait: the ports as discovered now, so adapters
    // attached later are worked on too.
    std::function<std::vector<FleetPort>()> discover;
};

// What identifies a device whatever path names it (a published link, a
// node): the path with every link resolved; the path itself once it is gone.
QString deviceIdentity(const QString& path);

// deviceIdentity for many paths: each is resolved once in a pass of the
// event loop (sixty-four workers starting together ask for each other's
// identity again and again, three system calls each time) and anew in the
// next, so a link moved since is seen.
class DeviceIdentities : public QObject {
public:
    QString of(const QString& path);

private:
    QHash<QString, QString> known_;
};

// A station's address as the status lines and the summary show it; "-"
// while it is not known.
QString addressText(std::optional<int> address);

// One programming run on a port, as the summary shows it.
struct PortRunRecord {
    QString port;
    QString device;        // the path the run opened, as its ledger line names the port
    std::optional<int> address;
    RunOutcome outcome = RunOutcome::Failed;
    // With --all a port where nothing answered holds no station: no failure.
    bool noStation = false;
    QString backup;
    QString trace;
    int exitStatus = 0;
    QString message;       // the child's outcome line
    // The run's ledger line as written (or left pending); empty when none
    // was (the child could not start).
    std::optional<LedgerEntry> ledger;

    // The outcome's name, "no-station" for a port that holds none.
    QString outcomeName() const { return noStation ? QStringLiteral("no-station") : ::outcomeName(outcome); }
};

class PortWorker : public QObject {
    Q_OBJECT
public:
    // A station that stopped answering this long has left the port; shorter
    // silences (its own restart) are the same station.
    static constexpr int kGoneAfterSilentMs = 5000;
    // The pause before the next probe. A station that is there answers
    // within milliseconds, and one plugged on should be read at once; a
    // silent probe has waited out its reply window already.
    static constexpr int kAfterAnswerMs = 150;
    // A station its run left partly written is off the air until a run
    // completes the move: while it stays attached it is programmed again,
    // this many times in a row at most (a station that never takes a write
    // is not written for ever).
    static constexpr int kPartlyWrittenReruns = 2;
    static constexpr int kAfterSilenceMs = 20;
    // A port that is not there, or does not open, is looked at again when
    // the ports change (portsChanged()) or after this.
    static constexpr int kPortAbsentMs = 1000;

    // `taken` tells whether another worker works on a device now: a port
    // looked up again never takes a device another worker has.
    using DeviceTaken = std::function<bool(const PortWorker* self, const QString& devicePath)>;
    PortWorker(FleetPort port, FleetSettings settings, DeviceTaken taken, QObject* parent = nullptr);
    void start();
    QString name() const { return port_.name; }
    QString devicePath() const { return port_.devicePath; }
    // No new runs or probes; a running child gets the signal.
    void stop(int signal);
    // A port appeared or vanished: one waiting between probes probes now.
    void portsChanged();
    bool finished() const { return finished_; }
    // On its device: given by its path, or looked up and found free, and not
    // finished. A worker waiting for its port holds none, so two names of
    // one device never wait for each other.
    bool holdsDevice() const { return onDevice_ && !finished_; }
    const std::vector<PortRunRecord>& runs() const { return runs_; }

    const PortActivity& now() const { return now_; }

signals:
    // What the port is doing now; said once per change.
    void activity(const PortActivity& now);
    // A line a programming run's child wrote for people (not the probes').
    void message(const QString& line);
    // A file beside a run (its ledger line, its trace) could not be written.
    void problem(const FleetProblem& problem);
    void runEnded(const PortRunRecord& run);
    void done();

private:
    void probe();
    void onProbed(const ProbeAnswer& answer);
    void heard(std::optional<int> address, bool portThere, int pauseMs);
    void program(std::optional<int> probed);
    void onProgrammed(std::optional<int> probed);
    void logKilledRun(PortRunRecord& run, double seconds);
    void next(int pauseMs);
    void tell(const PortActivity& now);
    void finish();
    bool lookUpAgain();
    QString traceFile() const;

    FleetPort port_;
    FleetSettings settings_;
    DeviceTaken taken_;
    std::unique_ptr<ChildRun> child_;
    PortProbe probe_;
    QTimer pause_;
    QElapsedTimer silent_;
    std::optional<int> attached_;   // programmed here and not yet gone
    std::optional<int> rerun_;      // the station programmed again after a partly-written run
    int reruns_ = 0;                // and how often, in a row
    // The last station this port moved (or found moved). A slow reboot can
    // be silent for longer than any absence test: that station answering
    // again is the same station, never a new run, until a run of another
    // address (whatever its outcome) replaces it.
    std::optional<int> lastDone_;
    PortActivity now_;
    bool told_ = false;
    bool onDevice_ = false;
    bool stopping_ = false;
    bool finished_ = false;
    std::vector<PortRunRecord> runs_;
};
