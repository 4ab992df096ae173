// SIGINT, SIGTERM and SIGHUP (a closed terminal) through a self-pipe: the
// handler decides, says what it must and writes the signal's number; whoever
// waits (a watcher thread that ends the run, a reading command, the fleet's
// event loop) reads it, whichever thread the signal landed on.
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <QProcess>
#include <QSocketNotifier>
#include <algorithm>
#include <chrono>
#include <iterator>
#include <thread>

#include "LedgerSync.h"
#include "StopRequests.h"

namespace stop_requests {

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
// A wait without end still looks at the state this often: it ends even
// without the pipe.
constexpr int kLongestPollMs = 1000;

int wakePipe[2] = {-1, -1};
Catching catching;
struct sigaction previous[std::size(kSignals)];
bool caught = false;
bool watching = false;

void say(const char* text) {
    if (!text) return;
    std::size_t length = 0;
    while (text[length] != '\0') ++length;
    while (length > 0) {
        const ssize_t n = ::write(STDERR_FILENO, text, length);
        if (n <= 0) return;
        text += n;
        length -= static_cast<std::size_t>(n);
    }
}

bool wake(int signal) {
    const unsigned char number = static_cast<unsigned char>(signal);
    return wakePipe[1] >= 0 && ::write(wakePipe[1], &number, 1) == 1;
}

// Only async-signal-safe calls: atomics, write(2) and _exit(2).
extern "C" void onSignal(int signal) {
    const int savedErrno = errno;
    // A closed terminal: whoever closed it may end the process soon, so a
    // line still to be written does not wait for a held ledger.
    if (signal == SIGHUP) ledger::hurry();
    switch (processState().onRequest()) {
    case Action::End:
        say(catching.ended);
        // The run's ledger line cannot be written from inside a handler.
        if (!watching || !wake(signal)) ::_exit(kEndedStatus);
        break;
    case Action::Announce:
        say(catching.deferred);
        break;
    case Action::Ask:
        wake(signal);   // a full pipe: the waiter is woken already
        break;
    case Action::Ignore:
        break;
    }
    errno = savedErrno;
}

long readStandardInput(char* buffer, unsigned long size) {
    for (;;) {
        const ssize_t n = ::read(STDIN_FILENO, buffer, size);
        if (n >= 0 || errno != EINTR) return static_cast<long>(n);
    }
}

// A stop line is the request a runner's SIGTERM would have been.
void requestByLine() { onSignal(SIGTERM); }

void watchForEnd() {
    for (;;) {
        pollfd wake{wakePipe[0], POLLIN, 0};
        if (::poll(&wake, 1, -1) < 0 && errno != EINTR) return;
        unsigned char number = 0;
        if (::read(wakePipe[0], &number, 1) == 1 && processState().phase() == Phase::Ending) catching.onEnd();
    }
}

}  // namespace

void catchRequests(const Catching& how) {
    catching = how;
    if (wakePipe[0] < 0 && ::pipe2(wakePipe, O_CLOEXEC | O_NONBLOCK) != 0) wakePipe[0] = wakePipe[1] = -1;
    if (how.onEnd && !watching && wakePipe[0] >= 0) {
        std::thread(watchForEnd).detach();
        watching = true;
    }
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;   // the line's reads and the thread waits go on
    for (std::size_t i = 0; i < std::size(kSignals); ++i) ::sigaction(kSignals[i], &action, caught ? nullptr : &previous[i]);
    caught = true;
    if (how.outliveClosedOutput) ::signal(SIGPIPE, SIG_IGN);
    followStopLines();
}

void sessionEnding() { onSignal(SIGHUP); }

void stateChanged() {}

void followStopLines() {
    static bool following = false;
    if (following || !stopLinesWanted()) return;
    following = true;
    std::thread([] { readStopLines(readStandardInput, requestByLine); }).detach();
}

void releaseRequests() {
    if (!caught) return;
    for (std::size_t i = 0; i < std::size(kSignals); ++i) ::sigaction(kSignals[i], &previous[i], nullptr);
    caught = false;
}

bool waitForStop(int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!processState().stopAsked()) {
        int left = kLongestPollMs;
        if (ms >= 0) {
            const auto rest = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            if (rest.count() <= 0) break;
            left = static_cast<int>(std::min<std::chrono::milliseconds::rep>(rest.count(), kLongestPollMs));
        }
        // Without the pipe (fd -1 is skipped), a signal on this thread still
        // ends the poll early.
        pollfd wake{wakePipe[0], POLLIN, 0};
        // The wake-up is taken off the pipe, so that it cannot turn a later
        // wait into a busy loop.
        unsigned char taken = 0;
        if (::poll(&wake, 1, left) > 0)
            while (::read(wakePipe[0], &taken, 1) > 0) {}
    }
    return processState().stopAsked();
}

void endProcess() { ::_exit(kEndedStatus); }

void keepChildApart(QProcess& child) {
    child.setChildProcessModifier([] { ::setpgid(0, 0); });
}

void forwardToChild(qint64 pid, int signal) { ::kill(static_cast<pid_t>(pid), signal); }

struct StopNotifier::Impl {
    std::unique_ptr<QSocketNotifier> notifier;
};

StopNotifier::StopNotifier(QObject* parent) : QObject(parent), impl_(std::make_unique<Impl>()) {
    processState().ask();
    catchRequests({nullptr, nullptr, nullptr, true});   // a closed output must not orphan the children mid-run
    if (wakePipe[0] < 0) return;
    impl_->notifier = std::make_unique<QSocketNotifier>(wakePipe[0], QSocketNotifier::Read);
    connect(impl_->notifier.get(), &QSocketNotifier::activated, this, [this] {
        unsigned char number = 0;
        while (::read(wakePipe[0], &number, 1) == 1) emit requested(number);
    });
}

StopNotifier::~StopNotifier() {
    impl_->notifier.reset();
    releaseRequests();
}

}  // namespace stop_requests
