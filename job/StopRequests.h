#pragma once
// Stop requests to the process: Ctrl-C, a termination request and a closed
// terminal (SIGINT, SIGTERM, SIGHUP; on Windows the console's Ctrl-C,
// Ctrl-Break and close events). One handler serves the whole process; what a
// request does depends on what the process is doing (StopState), so a run
// that is writing a station is never cut short, and a command that only
// reads is asked to stop between two reads. The handler itself is per
// platform (stop_requests_posix.cpp, stop_requests_win32.cpp).
#include <QObject>
#include <atomic>
#include <memory>

class QProcess;

namespace stop_requests {

// The exit status of a run that a request ended before its first write.
constexpr int kEndedStatus = 130;

enum class Phase : int {
    BeforeWrites,   // a command that writes the station has written nothing yet
    Writing,        // from the first write to the restart
    Written,        // after the restart: the run ends as usual
    Ending,         // a request has ended the run before its first write
    Closed,         // the run has ended and reported: requests change nothing
    Asking,         // a command that writes nothing: a request asks it to stop
};

// What a request does.
enum class Action {
    End,        // end the process now: nothing was written, nothing will be
    Announce,   // deferred until the restart; say so (once)
    Ignore,     // deferred again, or too late to matter
    Ask,        // ask the command to stop
};

// Lock-free, so the handler may use it from any thread or signal context.
class StopState {
public:
    constexpr StopState() = default;
    Action onRequest();
    // A command that writes nothing; no stop asked yet.
    void ask();
    // Just before the first write. False when a request came first: the
    // process is ending and nothing may be written.
    bool enterWritePhase();
    // After the restart, or when the run ends without one.
    void leaveWritePhase();
    // The run has ended: later requests change nothing. False when a
    // request before the first write came first.
    bool closeRun();
    // The run's ledger line is on disk.
    void recorded() { recorded_.store(true); }
    // A request that ends the process whatever the handler does (a closed
    // console, log-off, shut-down) must be held off: the run is writing the
    // station, or has ended without its ledger line on disk yet.
    bool holdsProcess() const;
    bool stopAsked() const { return asked_.load(); }
    Phase phase() const { return static_cast<Phase>(phase_.load()); }

private:
    std::atomic<int> phase_{static_cast<int>(Phase::BeforeWrites)};
    std::atomic<bool> announced_{false};
    std::atomic<bool> asked_{false};
    std::atomic<bool> recorded_{false};
    static_assert(std::atomic<int>::is_always_lock_free, "the handler needs lock-free atomics");
};

// The state the process's handler consults.
StopState& processState();

// How the handler deals with the requests. The texts are said by the handler
// itself, so they must be static.
struct Catching {
    const char* ended = nullptr;      // said when a request ends the run
    const char* deferred = nullptr;   // said when a request is first deferred
    // Called once, on an ordinary thread (never inside a signal handler),
    // after `ended` was said; it ends the process.
    void (*onEnd)() = nullptr;
    // A reader of the output that has gone away (a fleet runner killed, a
    // closed pipe) ends nothing: the lines are lost, the run goes on.
    bool outliveClosedOutput = false;
};

// Per platform. Catches the requests from now on. On Windows it also opens
// the program's hidden window that the end of the session reaches
// (SessionEnd.h): while processState().holdsProcess() it carries the reason
// and holds the end.
void catchRequests(const Catching& how);
// Call whenever the run's phase changed (its writes began or ended, its line
// is on disk): the hidden window shows or withdraws its reason.
void stateChanged();
// The end of the session (WM_ENDSESSION): a request after which the process
// is ended from outside, as a closed console's. A held ledger is not waited
// for (ledger::hurry); returns once the run is recorded, or after the
// system's grace. On POSIX the same as a closed terminal's SIGHUP.
void sessionEnding();
// The handlers from before the first catchRequests come back.
void releaseRequests();
// Waits up to `ms` milliseconds (without end when negative), less when a
// stop is asked or has been; returns processState().stopAsked().
bool waitForStop(int ms);
// Ends the process at once with kEndedStatus: the job's thread may be inside
// a read, and no destructor may run under it.
[[noreturn]] void endProcess();

// A child of a fleet runner stays out of the terminal's Ctrl-C, which
// reaches the runner only: the runner passes every request on to each child
// once. Call before the child starts.
void keepChildApart(QProcess& child);
// Passes the request `signal` on to the running child `pid`.
void forwardToChild(qint64 pid, int signal);

// A child of a window shares no console with it, so no Ctrl-Break can reach
// it; a signal cannot reach a Windows process at all. So a fleet child is
// started with this variable set to "1", and then a line "stop" on its
// standard input is a request like any other (ended before the first write,
// deferred during the writes). The end of the input requests nothing: a
// runner that died must not cut a station's writes short.
inline constexpr char kStopInputVariable[] = "RECHANNEL_STOP_INPUT";
inline constexpr char kStopLine[] = "stop\n";
// Per platform: follows the standard input on a thread of its own when the
// variable asks for it; catchRequests calls it, the first call starts it.
void followStopLines();
bool stopLinesWanted();
// The common part: reads with `readSome` (the bytes read, 0 at the end,
// below 0 on an error) until the input ends, and calls `request` for every
// line that reads "stop". Lines are bounded: a longer one is no stop line.
void readStopLines(long (*readSome)(char* buffer, unsigned long size), void (*request)());

// The requests as a Qt signal on the event loop of the thread that made it.
// While it lives the requests are caught and ask to stop; then the previous
// handlers come back.
class StopNotifier : public QObject {
    Q_OBJECT
public:
    explicit StopNotifier(QObject* parent = nullptr);
    ~StopNotifier() override;

signals:
    void requested(int signal);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace stop_requests
