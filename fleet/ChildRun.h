#pragma once
// One child process of rechannel-cli working on one port: a programming run
// (`program --port P --report-phases`, its trace into a file) or a cheap
// probe (`program --port P --probe`). Reads the child's report lines as
// they come and tells what it learnt.
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

#include "ChildProcess.h"
#include "ChangeWrites.h"
#include "FleetProblem.h"
#include "Ledger.h"
#include "RunOutcome.h"

class ChildRun : public QObject {
    Q_OBJECT
public:
    // No line a run writes comes near this (a ledger line with its longest
    // path is a few kilobytes). A longer one is text: its first this many
    // bytes are passed on, the rest up to its end is dropped unread.
    static constexpr qsizetype kMaxLineBytes = 64 * 1024;

    // `traceFile` receives the child's standard output; empty discards it.
    // When the child ends, what it said for people (the read-back
    // differences, why the port did not open), its station and backup lines
    // and its outcome line are added below the trace, so the file holds the
    // run's whole story even when nothing was traced (a silent port).
    // `forkable`: the program is rechannel-cli, whose runs can be forks of
    // its launcher (ChildProcess.h).
    ChildRun(const QString& program, const QStringList& args, const QString& traceFile, bool forkable = false,
             QObject* parent = nullptr);
    ~ChildRun() override;

    void start();
    // Passes a stop request on to the child (it decides how to end): a
    // programming run gets a stop line on its standard input, any other
    // child the signal.
    void forward(int signal);
    bool running() const { return process_->running(); }

    // What the child said, once finished() has been emitted.
    int exitStatus() const { return exitStatus_; }
    std::optional<int> address() const { return address_; }
    // Empty when the child reported none (it could not start).
    std::optional<RunOutcome> outcome() const { return outcome_; }
    QString backup() const { return backup_; }
    // The run's ledger line as the child wrote it; empty when it said none.
    std::optional<LedgerEntry> ledgerEntry() const { return ledgerEntry_; }
    // The child's outcome line; without one (an interrupt) its last text line.
    QString lastText() const { return outcomeText_.isEmpty() ? lastText_ : outcomeText_; }
    // Ended by a signal before it reported its result: it wrote no ledger line.
    bool killed() const { return killed_; }
    double seconds() const { return static_cast<double>(timer_.elapsed()) / 1000.0; }

signals:
    void phase(JobPhase phase);
    void addressRead(int address);
    // A line the child wrote for people, as it comes.
    void text(const QString& line);
    // The run's story could not be added to its trace.
    void problem(const FleetProblem& problem);
    void finished();

private:
    void readLines(const QByteArray& bytes);
    void take(const QByteArray& line);
    void onFinished(int code, bool crashed);
    void appendStory();

    std::unique_ptr<ChildProcess> process_;
    QByteArray pending_;   // the start of a report line still coming
    bool overlong_ = false;   // dropping the rest of a line longer than kMaxLineBytes
    QString program_;
    QString traceFile_;
    QStringList said_;   // the child's lines for people, in order
    QStringList args_;
    bool forwarded_ = false;
    bool stopsByLine_ = false;
    bool killed_ = false;
    QElapsedTimer timer_;
    int exitStatus_ = -1;
    std::optional<int> address_;
    std::optional<RunOutcome> outcome_;
    QString backup_;
    std::optional<LedgerEntry> ledgerEntry_;
    QString lastText_;
    QString outcomeText_;
};
