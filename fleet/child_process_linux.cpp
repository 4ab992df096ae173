// A fleet's runs as forks of one rechannel-cli launcher (see ChildProcess.h).
// The parent's side: a launcher per program, and each run a fork of it.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QPointer>
#include <QSet>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <deque>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "ChildProcess.h"
#include "ExecChild.h"
#include "LauncherMessages.h"

extern char** environ;

using namespace launcher_messages;

namespace {

constexpr int kReadyWaitMs = 10000;   // a launcher starting on a loaded machine
constexpr int kAnswerWaitMs = 5000;   // one fork
constexpr int kReapTries = 200;       // a launcher that was killed: its end looked for this often,
constexpr int kReapEveryMs = 50;      // this far apart, without waiting on it
// Set to 1, every run is started anew (to compare, or to rule the launcher out).
constexpr char kExecRunsVariable[] = "RECHANNEL_EXEC_RUNS";

// Reaps `pid` (killed already) from the event loop: never waits on it.
void reapWhenEnded(pid_t pid, int triesLeft = kReapTries) {
    QCoreApplication* app = QCoreApplication::instance();
    if (::waitpid(pid, nullptr, WNOHANG) != 0 || triesLeft <= 0 || !app) return;
    QTimer::singleShot(kReapEveryMs, app, [pid, triesLeft] { reapWhenEnded(pid, triesLeft - 1); });
}

class ForkedChild;

// The parent's end of one launcher; lives in the application's thread, and
// never waits for the launcher there: each start is a request answered from
// the event loop, one at a time and in order, and a launcher that does not
// answer in time is given up (its starts are made anew).
class Launcher : public QObject {
public:
    // Null when runs of `program` cannot be forks here and now.
    static Launcher* forProgram(const QString& program);
    ~Launcher() override;

    // Asks for a run of `child`; the launcher takes `fds` (closed once sent,
    // or when the request is dropped). The answer comes to the child:
    // launched(pid), or launchRefused() to start it anew.
    void launch(ForkedChild* child, const ChildProcess::Setup& setup, int fds[kDescriptors]);
    void signalRun(qint64 pid, int signalNumber);
    void forget(qint64 pid) { runs_.erase(pid); }

private:
    struct Request {
        QPointer<ForkedChild> child;
        std::vector<char> bytes;
        std::vector<int> fds;
    };

    Launcher(const QString& program, QObject* parent) : QObject(parent), program_(program) {}
    bool begin();
    void sendNext();
    void readMessages();
    void take(const Message& m);
    void answered(const Message& m);
    void lose();

    QString program_;
    int fd_ = -1;
    pid_t pid_ = -1;
    bool ready_ = false;
    QSocketNotifier* notifier_ = nullptr;
    QTimer* waiting_ = nullptr;                  // for the ready message, or a start's answer
    std::deque<Request> queued_;                 // starts not yet sent
    std::optional<QPointer<ForkedChild>> asked_; // the start sent and not yet answered
    std::map<qint64, QPointer<ForkedChild>> runs_;
};

std::map<QString, QPointer<Launcher>>& launchers() {
    static std::map<QString, QPointer<Launcher>> all;
    return all;
}

QSet<QString>& refused() {
    static QSet<QString> programs;
    return programs;
}

class ForkedChild : public ChildProcess {
public:
    ForkedChild(const ChildProcess::Setup& setup, Launcher* launcher) : setup_(setup), launcher_(launcher) {}
    ~ForkedChild() override;

    void start() override;
    qint64 pid() const override { return anew_ ? anew_->pid() : pid_; }
    bool running() const override { return anew_ ? anew_->running() : starting_ || running_; }
    bool writeInput(const QByteArray& bytes) override;
    void signal(int signalNumber) override;
    void kill() override { signal(SIGKILL); }

    void launched(qint64 pid);
    void launchRefused();
    void launcherSaysEnded(int status);
    void launcherLost();

private:
    bool openDescriptors(int child[kDescriptors]);
    void startAnew();
    void readError();
    void finish(int code, bool crashed);
    void closeOwn();

    ChildProcess::Setup setup_;
    QPointer<Launcher> launcher_;
    std::unique_ptr<ChildProcess> anew_;   // started the usual way: the launcher could not
    qint64 pid_ = 0;
    bool starting_ = false;      // asked of the launcher, not yet answered
    bool running_ = false;
    bool lost_ = false;          // the launcher has gone: its end shows as the end of its output
    bool errorClosed_ = false;
    QByteArray saidWhileStarting_;    // its input so far, for a run started anew after all
    std::vector<int> signalsWhileStarting_;
    int input_ = -1;
    int error_ = -1;
    QSocketNotifier* errorNotifier_ = nullptr;
};

}  // namespace


Launcher* Launcher::forProgram(const QString& program) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() != app->thread() || refused().contains(program) ||
        qEnvironmentVariableIntValue(kExecRunsVariable) == 1)
        return nullptr;
    QPointer<Launcher>& known = launchers()[program];
    if (known && known->fd_ >= 0) return known;
    if (known) known->deleteLater();   // it has gone: its runs were told
    auto* launcher = new Launcher(program, app);
    if (!launcher->begin()) {
        delete launcher;
        refused().insert(program);   // not a launcher: every run of it starts anew
        return nullptr;
    }
    known = launcher;
    return launcher;
}

// Starts the launcher, out of the terminal's process group. It says when it
// is ready; the starts asked for meanwhile wait for that.
bool Launcher::begin() {
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) return false;
    const QByteArray path = QFile::encodeName(program_);
    char* argv[] = {const_cast<char*>(path.constData()), const_cast<char*>(kServeForkedRunsArgument), nullptr};
    posix_spawn_file_actions_t files;
    posix_spawnattr_t attributes;
    ::posix_spawn_file_actions_init(&files);
    ::posix_spawn_file_actions_adddup2(&files, pair[1], STDIN_FILENO);
    ::posix_spawn_file_actions_addopen(&files, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    ::posix_spawnattr_init(&attributes);
    sigset_t all, none;
    ::sigfillset(&all);
    ::sigemptyset(&none);
    ::posix_spawnattr_setsigdefault(&attributes, &all);
    ::posix_spawnattr_setsigmask(&attributes, &none);
    ::posix_spawnattr_setpgroup(&attributes, 0);
    ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    // Every symbol bound once, in the launcher, rather than on first use in
    // each run.
    std::vector<QByteArray> variables{QByteArrayLiteral("LD_BIND_NOW=1")};
    for (char** v = environ; *v; ++v)
        if (std::strncmp(*v, "LD_BIND_NOW=", 12) != 0) variables.emplace_back(*v);
    std::vector<char*> environment;
    for (QByteArray& v : variables) environment.push_back(v.data());
    environment.push_back(nullptr);
    const int spawned = ::posix_spawn(&pid_, path.constData(), &files, &attributes, argv, environment.data());
    ::posix_spawn_file_actions_destroy(&files);
    ::posix_spawnattr_destroy(&attributes);
    ::close(pair[1]);
    fd_ = pair[0];
    if (spawned != 0) {
        pid_ = -1;
        ::close(fd_);
        fd_ = -1;
        return false;
    }
    notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &Launcher::readMessages);
    waiting_ = new QTimer(this);
    waiting_->setSingleShot(true);
    connect(waiting_, &QTimer::timeout, this, &Launcher::lose);   // not answering in time: not trusted again
    waiting_->start(kReadyWaitMs);
    return true;
}

// The parent is going. The launcher learns it from the end of its input,
// after every message before it, so the signals its runs were last sent (a
// run killed with its window) are carried out; then it ends by itself. The
// parent does not wait for that.
Launcher::~Launcher() {
    runs_.clear();
    for (Request& request : queued_) closeAll(request.fds);
    queued_.clear();
    if (fd_ < 0) return;
    if (::shutdown(fd_, SHUT_WR) == 0) {
        const int hold = launcherHold();   // a test's, let go now (LauncherMessages.h)
        const std::uint64_t one = 1;
        if (hold >= 0 && ::write(hold, &one, sizeof one) < 0) {}
    }
    ::close(fd_);
    fd_ = -1;
    if (pid_ > 0) ::waitpid(pid_, nullptr, WNOHANG);   // ended already: reaped; otherwise it ends alone
}

void Launcher::launch(ForkedChild* child, const ChildProcess::Setup& setup, int fds[kDescriptors]) {
    Request request{child, packKind(Kind::Start), std::vector<int>(fds, fds + kDescriptors)};
    const auto add = [&request](const QByteArray& text) {
        request.bytes.insert(request.bytes.end(), text.begin(), text.end());
        request.bytes.push_back('\0');
    };
    add(QFile::encodeName(QDir::currentPath()));
    add(QByteArray::number(setup.args.size() + 1));
    add(QFile::encodeName(setup.program));
    for (const QString& arg : setup.args) add(arg.toLocal8Bit());
    for (const QString& variable : setup.environment) add(variable.toLocal8Bit());
    if (fd_ < 0 || request.bytes.size() > kMostRequest) {
        closeAll(request.fds);
        QMetaObject::invokeMethod(child, &ForkedChild::launchRefused, Qt::QueuedConnection);
        return;
    }
    queued_.push_back(std::move(request));
    sendNext();
}

// One start at a time: the next is sent once the last is answered, so the
// socket always has room for it and a send never waits.
void Launcher::sendNext() {
    while (fd_ >= 0 && ready_ && !asked_ && !queued_.empty()) {
        Request request = std::move(queued_.front());
        queued_.pop_front();
        if (!request.child) {   // deleted before it was asked for
            closeAll(request.fds);
            continue;
        }
        const bool sent = sendMessage(fd_, request.bytes, request.fds.data(), kDescriptors);
        closeAll(request.fds);
        asked_ = request.child;
        if (!sent) return lose();
        waiting_->start(kAnswerWaitMs);
    }
}

void Launcher::signalRun(qint64 pid, int signalNumber) {
    if (fd_ >= 0) sendMessage(fd_, packInts(Kind::Kill, static_cast<std::int32_t>(pid), signalNumber), nullptr, 0);
}

void Launcher::readMessages() {
    const QPointer<Launcher> self(this);
    while (self && fd_ >= 0) {
        Message m;
        const int got = receiveMessage(fd_, m, kMostAnswer, MSG_DONTWAIT);
        if (got < 0 && (errno == EAGAIN || errno == EINTR)) return;
        if (got <= 0) return lose();
        closeAll(m.fds);
        take(m);
    }
}

void Launcher::take(const Message& m) {
    if (m.kind == Kind::Ready && !ready_) {
        ready_ = true;
        waiting_->stop();
        return sendNext();
    }
    if (m.kind == Kind::Started || m.kind == Kind::Failed) return answered(m);
    if (m.kind != Kind::Ended) return;
    const auto run = runs_.find(intAt(m, 0));
    if (run == runs_.end()) return;
    const QPointer<ForkedChild> child = run->second;
    runs_.erase(run);
    if (child) child->launcherSaysEnded(intAt(m, 1));
}

// The answer to the start sent last. A run whose child object has gone
// meanwhile is killed, as deleting a running child kills it.
void Launcher::answered(const Message& m) {
    if (!asked_) return;
    const QPointer<ForkedChild> child = *asked_;
    asked_.reset();
    waiting_->stop();
    if (m.kind == Kind::Started && child) {
        runs_[intAt(m, 0)] = child;
        child->launched(intAt(m, 0));
    } else if (m.kind == Kind::Started) {
        signalRun(intAt(m, 0), SIGKILL);
    } else if (child) {
        child->launchRefused();
    }
    sendNext();
}

// The launcher has gone or is no longer trusted: it is ended (and reaped
// from the event loop), each run it started is told, and each start it was
// asked for is made anew.
void Launcher::lose() {
    if (fd_ < 0) return;
    if (!ready_) refused().insert(program_);   // never a launcher: every run of it starts anew
    if (notifier_) notifier_->setEnabled(false);
    if (waiting_) waiting_->stop();
    ::close(fd_);
    fd_ = -1;
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        reapWhenEnded(pid_);
        pid_ = -1;
    }
    std::vector<QPointer<ForkedChild>> lost, unanswered;
    for (auto& run : runs_) lost.push_back(run.second);
    if (asked_) unanswered.push_back(*asked_);
    for (Request& request : queued_) {
        closeAll(request.fds);
        unanswered.push_back(request.child);
    }
    runs_.clear();
    queued_.clear();
    asked_.reset();
    for (const QPointer<ForkedChild>& child : lost)
        QMetaObject::invokeMethod(this, [child] { if (child) child->launcherLost(); }, Qt::QueuedConnection);
    for (const QPointer<ForkedChild>& child : unanswered)
        QMetaObject::invokeMethod(this, [child] { if (child) child->launchRefused(); }, Qt::QueuedConnection);
}

ForkedChild::~ForkedChild() {
    if (running_) signal(SIGKILL);
    if (launcher_) launcher_->forget(pid_);
    closeOwn();
}

// Its standard input (a socket: writing to one that has gone raises no
// SIGPIPE), its trace file or nothing, and its standard error.
bool ForkedChild::openDescriptors(int child[kDescriptors]) {
    int in[2], err[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, in) != 0) return false;
    input_ = in[0];
    child[0] = in[1];
    const bool toFile = !setup_.outputFile.isEmpty();
    child[1] = ::open(toFile ? QFile::encodeName(setup_.outputFile).constData() : "/dev/null",
                      O_WRONLY | O_CLOEXEC | (toFile ? O_CREAT | O_TRUNC : 0), 0666);
    if (child[1] < 0 || ::pipe2(err, O_CLOEXEC) != 0) return false;
    error_ = err[0];
    child[2] = err[1];
    return ::fcntl(error_, F_SETFL, O_NONBLOCK) == 0 && ::fcntl(input_, F_SETFL, O_NONBLOCK) == 0;
}

void ForkedChild::start() {
    int child[kDescriptors] = {-1, -1, -1};
    const bool opened = openDescriptors(child);
    const int why = errno;
    if (!opened) {
        for (int fd : child)
            if (fd >= 0) ::close(fd);
        closeOwn();
        emit failedToStart(QStringLiteral("cannot prepare the run's input and output%1: %2")
                               .arg(setup_.outputFile.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(setup_.outputFile),
                                    QString::fromLocal8Bit(std::strerror(why))));
        return;
    }
    if (!launcher_) {
        for (int fd : child) ::close(fd);
        closeOwn();
        return startAnew();
    }
    starting_ = true;
    launcher_->launch(this, setup_, child);
}

void ForkedChild::launched(qint64 pid) {
    if (!starting_) return;
    starting_ = false;
    pid_ = pid;
    running_ = true;
    errorNotifier_ = new QSocketNotifier(error_, QSocketNotifier::Read, this);
    connect(errorNotifier_, &QSocketNotifier::activated, this, &ForkedChild::readError);
    for (const int signalNumber : std::exchange(signalsWhileStarting_, {})) signal(signalNumber);
}

// The launcher could not start it: it starts the usual way, with what it
// was told meanwhile.
void ForkedChild::launchRefused() {
    if (!starting_) return;
    starting_ = false;
    closeOwn();
    startAnew();
    if (!saidWhileStarting_.isEmpty()) anew_->writeInput(std::exchange(saidWhileStarting_, {}));
    for (const int signalNumber : std::exchange(signalsWhileStarting_, {})) anew_->signal(signalNumber);
}

void ForkedChild::startAnew() {
    anew_ = std::make_unique<ExecChild>(setup_);
    connect(anew_.get(), &ChildProcess::errorOutput, this, &ChildProcess::errorOutput);
    connect(anew_.get(), &ChildProcess::ended, this, &ChildProcess::ended);
    connect(anew_.get(), &ChildProcess::failedToStart, this, &ChildProcess::failedToStart);
    anew_->start();
}

// While the start waits for its answer the line waits in the run's input
// already; it is kept too, for a run started anew after all.
bool ForkedChild::writeInput(const QByteArray& bytes) {
    if (anew_) return anew_->writeInput(bytes);
    if (!(starting_ || running_) || input_ < 0) return false;
    if (starting_) saidWhileStarting_ += bytes;
    return ::send(input_, bytes.constData(), static_cast<std::size_t>(bytes.size()), MSG_NOSIGNAL) == bytes.size();
}

void ForkedChild::signal(int signalNumber) {
    if (anew_) return anew_->signal(signalNumber);
    if (starting_) return signalsWhileStarting_.push_back(signalNumber);
    if (!running_) return;
    if (launcher_) launcher_->signalRun(pid_, signalNumber);
    else if (lost_ && !errorClosed_) ::kill(static_cast<pid_t>(pid_), signalNumber);
}

// Everything the run wrote is taken before its end is told.
void ForkedChild::readError() {
    const QPointer<ForkedChild> self(this);
    char buffer[4096];
    while (error_ >= 0) {
        const ssize_t n = ::read(error_, buffer, sizeof buffer);
        if (n > 0) {
            emit errorOutput(QByteArray(buffer, static_cast<int>(n)));
            if (!self) return;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) {
            errorClosed_ = true;
            if (errorNotifier_) errorNotifier_->setEnabled(false);
            if (lost_ && running_) finish(-1, true);
        }
        return;
    }
}

void ForkedChild::launcherSaysEnded(int status) {
    if (!running_) return;
    const QPointer<ForkedChild> self(this);
    readError();
    if (!self || !running_) return;
    if (WIFEXITED(status)) finish(WEXITSTATUS(status), false);
    else finish(-1, true);
}

void ForkedChild::launcherLost() {
    lost_ = true;
    launcher_ = nullptr;
    if (running_ && errorClosed_) finish(-1, true);
}

void ForkedChild::finish(int code, bool crashed) {
    running_ = false;
    if (launcher_) launcher_->forget(pid_);
    closeOwn();
    emit ended(code, crashed);
}

void ForkedChild::closeOwn() {
    delete errorNotifier_;
    errorNotifier_ = nullptr;
    for (int* fd : {&input_, &error_}) {
        if (*fd >= 0) ::close(*fd);
        *fd = -1;
    }
}

std::unique_ptr<ChildProcess> ChildProcess::make(const Setup& setup) {
    Launcher* launcher = setup.forkable ? Launcher::forProgram(setup.program) : nullptr;
    if (launcher) return std::make_unique<ForkedChild>(setup, launcher);
    return std::make_unique<ExecChild>(setup);
}
