#pragma once
// A run's child process as the fleet sees it: its standard input (the stop
// line), its standard error (the report lines), its standard output (the
// trace file) and its end.
//
// Starting a Qt program costs a few milliseconds of processor (the dynamic
// loader, the kernel's exec and first page faults); sixty-four runs
// started at once on a two-core laptop wait for each other's starts. On
// Linux a fleet therefore starts rechannel-cli once as a launcher, which
// has paid that cost, and each run is a fork of it running rechannel-cli's
// main with the run's arguments, environment and working directory: the
// same program in a process of its own, without the exec. Where that is not
// possible (Windows, another program, a launcher that has gone) the child
// is started the usual way.
#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>

class ChildProcess : public QObject {
    Q_OBJECT
public:
    struct Setup {
        QString program;
        QStringList args;
        QString outputFile;        // its standard output, truncated first; empty discards it
        QStringList environment;   // all of it, NAME=value
        // The program is rechannel-cli, which can serve runs as forks of
        // its launcher.
        bool forkable = false;
    };

    // Never null; connect, then start().
    static std::unique_ptr<ChildProcess> make(const Setup& setup);
    ~ChildProcess() override = default;

    // Emits failedToStart() when it cannot start, perhaps before returning.
    // Never waits for the child: a fork of the launcher is asked for, and
    // its pid comes from the event loop.
    virtual void start() = 0;
    // 0 until it has started.
    virtual qint64 pid() const = 0;
    // From start() on, until it has ended.
    virtual bool running() const = 0;
    // To its standard input; false when nothing could be written. What is
    // written before it has started is read once it has.
    virtual bool writeInput(const QByteArray& bytes) = 0;
    // A signal given before it has started reaches it once it has.
    virtual void signal(int signalNumber) = 0;
    // Ends it at once: the parent is going away.
    virtual void kill() = 0;

signals:
    void errorOutput(const QByteArray& bytes);
    // `crashed`: ended by a signal (or its end could not be learnt).
    void ended(int exitCode, bool crashed);
    void failedToStart(const QString& why);
};

// The argument that makes rechannel-cli a launcher.
inline constexpr char kServeForkedRunsArgument[] = "--serve-forked-runs";

// The launcher's side, in rechannel-cli: serves the runs its parent asks for
// on standard input, each a fork calling `runMain`, until the parent closes
// it. Returns the launcher's exit status.
int serveForkedRuns(int (*runMain)(int, char**));
