// A fleet's runs as forks of one rechannel-cli launcher (see ChildProcess.h).
// The parent's side: a launcher per program, and each run a fork of it.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPointer>
#include <QSet>
#include <QSocketNotifier>
#include <QThread>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <deque>
#include <map>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
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
constexpr int kEndWaitMs = 2000;      // a launcher ending once its parent goes
// Set to 1, every run is started anew (to compare, or to rule the launcher out).
constexpr char kExecRunsVariable[] = "RECHANNEL_EXEC_RUNS";

// Whether `fd` has something to read within `ms`, across signals.
bool readableWithin(int fd, int ms) {
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        const int left = ms - static_cast<int>(waited.elapsed());
        const int ready = left > 0 ? ::poll(&p, 1, left) : 0;
        if (ready >= 0 || errno != EINTR) return ready == 1;
    }
}

class ForkedChild;

// The parent's end of one launcher; lives in the application's thread.
class Launcher : public QObject {
public:
    // Null when runs of `program` cannot be forks here and now.
    static Launcher* forProgram(const QString& program);
    ~Launcher() override;

    // The run's pid; -1 when the launcher did not start it.
    qint64 launch(const ChildProcess::Setup& setup, const int fds[kDescriptors]);
    void signalRun(qint64 pid, int signalNumber);
    void watch(qint64 pid, ForkedChild* child) { runs_[pid] = child; }
    void forget(qint64 pid) { runs_.erase(pid); }

private:
    explicit Launcher(QObject* parent) : QObject(parent) {}
    bool begin(const QString& program);
    void readMessages();
    void take(const Message& m);
    void lose();

    int fd_ = -1;
    pid_t pid_ = -1;
    QSocketNotifier* notifier_ = nullptr;
    std::deque<Message> early_;   // runs that ended while a start waited for its answer
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
    bool running() const override { return anew_ ? anew_->running() : running_; }
    bool writeInput(const QByteArray& bytes) override;
    void signal(int signalNumber) override;
    void kill() override { signal(SIGKILL); }

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
    bool running_ = false;
    bool lost_ = false;          // the launcher has gone: its end shows as the end of its output
    bool errorClosed_ = false;
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
    auto* launcher = new Launcher(app);
    if (!launcher->begin(program)) {
        delete launcher;
        refused().insert(program);   // not a launcher: every run of it starts anew
        return nullptr;
    }
    known = launcher;
    return launcher;
}

// Starts the launcher, out of the terminal's process group, and waits for it
// to say it is ready.
bool Launcher::begin(const QString& program) {
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) return false;
    const QByteArray path = QFile::encodeName(program);
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
    Message ready;
    if (!readableWithin(fd_, kReadyWaitMs) || receiveMessage(fd_, ready, kMostAnswer, MSG_DONTWAIT) != 1 ||
        ready.kind != 'R') {
        closeAll(ready.fds);
        lose();
        return false;
    }
    notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &Launcher::readMessages);
    return true;
}

// The parent is going. The launcher learns it from the end of its input,
// after every message before it, so the signals its runs were last sent (a
// run killed with its window) are carried out; then it ends by itself, or is
// ended after a bounded wait.
Launcher::~Launcher() {
    runs_.clear();
    if (fd_ >= 0 && pid_ > 0 && ::shutdown(fd_, SHUT_WR) == 0) {
        const int hold = launcherHold();   // a test's, let go now (LauncherMessages.h)
        const std::uint64_t one = 1;
        if (hold >= 0 && ::write(hold, &one, sizeof one) < 0) {}
        const int ended = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));   // its end, to wait on
        pollfd p{ended, POLLIN, 0};
        if (ended >= 0) {
            while (::poll(&p, 1, kEndWaitMs) < 0 && errno == EINTR) {}
            ::close(ended);
        }
    }
    lose();
}

qint64 Launcher::launch(const ChildProcess::Setup& setup, const int fds[kDescriptors]) {
    if (fd_ < 0) return -1;
    std::vector<char> request{'S'};
    const auto add = [&request](const QByteArray& text) {
        request.insert(request.end(), text.begin(), text.end());
        request.push_back('\0');
    };
    add(QFile::encodeName(QDir::currentPath()));
    add(QByteArray::number(setup.args.size() + 1));
    add(QFile::encodeName(setup.program));
    for (const QString& arg : setup.args) add(arg.toLocal8Bit());
    for (const QString& variable : setup.environment) add(variable.toLocal8Bit());
    if (request.size() > kMostRequest) return -1;
    if (!sendMessage(fd_, request, fds, kDescriptors)) {
        lose();
        return -1;
    }
    // The answer comes before anything about later requests; runs that end
    // meanwhile are taken from the event loop, not inside this call.
    for (;;) {
        Message m;
        const int got = readableWithin(fd_, kAnswerWaitMs) ? receiveMessage(fd_, m, kMostAnswer, MSG_DONTWAIT) : 0;
        if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        if (got != 1) {   // gone, broken or not answering in time: not trusted again
            lose();
            return -1;
        }
        closeAll(m.fds);
        if (m.kind == 'P') return intAt(m, 0);
        if (m.kind == 'F') return -1;
        early_.push_back(m);
        QMetaObject::invokeMethod(this, &Launcher::readMessages, Qt::QueuedConnection);
    }
}

void Launcher::signalRun(qint64 pid, int signalNumber) {
    if (fd_ >= 0) sendMessage(fd_, packInts('K', static_cast<std::int32_t>(pid), signalNumber));
}

void Launcher::readMessages() {
    while (!early_.empty()) {
        const Message m = early_.front();
        early_.pop_front();
        take(m);
    }
    while (fd_ >= 0) {
        Message m;
        const int got = receiveMessage(fd_, m, kMostAnswer, MSG_DONTWAIT);
        if (got < 0 && errno == EAGAIN) return;
        if (got <= 0) return lose();
        closeAll(m.fds);
        take(m);
    }
}

void Launcher::take(const Message& m) {
    if (m.kind != 'X') return;
    const auto run = runs_.find(intAt(m, 0));
    if (run == runs_.end()) return;
    const QPointer<ForkedChild> child = run->second;
    runs_.erase(run);
    if (child) child->launcherSaysEnded(intAt(m, 1));
}

// The launcher has gone or is no longer trusted: it is ended and reaped, and
// each run it started is told from the event loop.
void Launcher::lose() {
    if (fd_ < 0) return;
    if (notifier_) notifier_->setEnabled(false);
    ::close(fd_);
    fd_ = -1;
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {}
        pid_ = -1;
    }
    for (auto& run : runs_) {
        const QPointer<ForkedChild> child = run.second;
        QMetaObject::invokeMethod(this, [child] { if (child) child->launcherLost(); }, Qt::QueuedConnection);
    }
    runs_.clear();
    early_.clear();
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
    const qint64 pid = opened && launcher_ ? launcher_->launch(setup_, child) : -1;
    for (int fd : child)
        if (fd >= 0) ::close(fd);
    if (!opened) {
        closeOwn();
        emit failedToStart(QStringLiteral("cannot prepare the run's input and output%1: %2")
                               .arg(setup_.outputFile.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(setup_.outputFile),
                                    QString::fromLocal8Bit(std::strerror(why))));
        return;
    }
    if (pid <= 0) {
        closeOwn();
        return startAnew();
    }
    pid_ = pid;
    running_ = true;
    launcher_->watch(pid_, this);
    errorNotifier_ = new QSocketNotifier(error_, QSocketNotifier::Read, this);
    connect(errorNotifier_, &QSocketNotifier::activated, this, &ForkedChild::readError);
}

void ForkedChild::startAnew() {
    anew_ = std::make_unique<ExecChild>(setup_);
    connect(anew_.get(), &ChildProcess::errorOutput, this, &ChildProcess::errorOutput);
    connect(anew_.get(), &ChildProcess::ended, this, &ChildProcess::ended);
    connect(anew_.get(), &ChildProcess::failedToStart, this, &ChildProcess::failedToStart);
    anew_->start();
}

bool ForkedChild::writeInput(const QByteArray& bytes) {
    if (anew_) return anew_->writeInput(bytes);
    return running_ && input_ >= 0 &&
           ::send(input_, bytes.constData(), static_cast<std::size_t>(bytes.size()), MSG_NOSIGNAL) == bytes.size();
}

void ForkedChild::signal(int signalNumber) {
    if (anew_) return anew_->signal(signalNumber);
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
