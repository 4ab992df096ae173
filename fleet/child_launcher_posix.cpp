// The launcher: rechannel-cli started once by a fleet's parent; each run it
// is asked for is a fork of it running rechannel-cli's main.
#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <set>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "ChildProcess.h"
#include "LauncherMessages.h"

namespace launcher_messages {

void closeAll(const std::vector<int>& fds) {
    for (int fd : fds) ::close(fd);
}

std::vector<char> packInts(char kind, std::int32_t a, std::int32_t b) {
    std::vector<char> bytes(1 + 2 * sizeof(std::int32_t));
    bytes[0] = kind;
    std::memcpy(bytes.data() + 1, &a, sizeof a);
    std::memcpy(bytes.data() + 1 + sizeof a, &b, sizeof b);
    return bytes;
}

std::int32_t intAt(const Message& m, std::size_t index) {
    std::int32_t value = -1;
    if (m.body.size() >= (index + 1) * sizeof value) std::memcpy(&value, m.body.data() + index * sizeof value, sizeof value);
    return value;
}

bool sendMessage(int fd, const std::vector<char>& bytes, const int* fds, int count) {
    iovec io{const_cast<char*>(bytes.data()), bytes.size()};
    msghdr msg{};
    msg.msg_iov = &io;
    msg.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * kDescriptors)] = {};
    if (count > 0) {
        msg.msg_control = control;
        msg.msg_controllen = CMSG_SPACE(sizeof(int) * static_cast<std::size_t>(count));
        cmsghdr* header = CMSG_FIRSTHDR(&msg);
        header->cmsg_level = SOL_SOCKET;
        header->cmsg_type = SCM_RIGHTS;
        header->cmsg_len = CMSG_LEN(sizeof(int) * static_cast<std::size_t>(count));
        std::memcpy(CMSG_DATA(header), fds, sizeof(int) * static_cast<std::size_t>(count));
    }
    for (;;) {
        const ssize_t n = ::sendmsg(fd, &msg, MSG_NOSIGNAL);
        if (n >= 0) return static_cast<std::size_t>(n) == bytes.size();
        if (errno != EINTR) return false;
    }
}

int receiveMessage(int fd, Message& out, std::size_t most, int flags) {
    // Kept between messages: a request's room, taken anew each time, would
    // cost the launcher a mapping and its page faults per run.
    static thread_local std::vector<char> buffer;
    if (buffer.size() < most) buffer.resize(most);
    iovec io{buffer.data(), most};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * kDescriptors)] = {};
    msghdr msg{};
    msg.msg_iov = &io;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    ssize_t n;
    do {
        n = ::recvmsg(fd, &msg, flags | MSG_CMSG_CLOEXEC);
    } while (n < 0 && errno == EINTR);
    if (n <= 0) return n == 0 ? 0 : -1;
    out = Message{};
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS) continue;
        const std::size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        const auto* data = reinterpret_cast<const unsigned char*>(CMSG_DATA(c));
        for (std::size_t i = 0; i < count; ++i) {
            int fd = -1;
            std::memcpy(&fd, data + i * sizeof fd, sizeof fd);
            out.fds.push_back(fd);
        }
    }
    if (msg.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) {
        closeAll(out.fds);
        out.fds.clear();
        return 1;   // kind 0: ignored
    }
    out.kind = buffer[0];
    out.body.assign(buffer.begin() + 1, buffer.begin() + n);
    return 1;
}

int launcherHold() {
    const char* named = std::getenv("RECHANNEL_LAUNCHER_HOLD_FD");
    char* end = nullptr;
    const long fd = named ? std::strtol(named, &end, 10) : -1;
    return named && *named && end && *end == '\0' && fd >= 0 && fd < 1024 ? static_cast<int>(fd) : -1;
}

}  // namespace launcher_messages

using namespace launcher_messages;

namespace {

int gRunEnded = -1;   // written by the SIGCHLD handler, read by the launcher's loop

void onRunEnded(int) {
    const int saved = errno;
    const char byte = 0;
    if (::write(gRunEnded, &byte, 1) < 0) {}   // a full pipe has the wake-up already
    errno = saved;
}

// A request's strings: cwd, argc, argv..., env...; empty when malformed.
std::vector<char*> requestStrings(Message& m, int& argc) {
    std::vector<char*> strings;
    if (m.body.empty() || m.body.back() != '\0' || m.fds.size() != kDescriptors) return strings;
    for (std::size_t i = 0; i < m.body.size(); i += std::strlen(m.body.data() + i) + 1) strings.push_back(m.body.data() + i);
    char* end = nullptr;
    const long count = strings.size() >= 2 ? std::strtol(strings[1], &end, 10) : 0;
    if (count < 1 || !end || *end != '\0' || static_cast<std::size_t>(count) + 2 > strings.size()) {
        strings.clear();
        return strings;
    }
    argc = static_cast<int>(count);
    return strings;
}

// In the fork: becomes the run, as if rechannel-cli had been started anew.
[[noreturn]] void becomeRun(const std::vector<char*>& strings, int argc, const std::vector<int>& fds,
                            int (*runMain)(int, char**)) {
    for (int i = 0; i < kDescriptors; ++i)
        if (::dup2(fds[static_cast<std::size_t>(i)], i) < 0) ::_exit(127);
    for (int fd : fds)
        if (fd >= kDescriptors) ::close(fd);
    // Out of the terminal's Ctrl-C, as every fleet child: the parent passes
    // each request on once.
    ::setpgid(0, 0);
    struct sigaction byDefault {};
    byDefault.sa_handler = SIG_DFL;
    for (int s = 1; s < NSIG; ++s) ::sigaction(s, &byDefault, nullptr);
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    if (::chdir(strings[0]) != 0) {
        const char why[] = "rechannel-cli: the fleet's working folder has gone\n";
        if (::write(STDERR_FILENO, why, sizeof why - 1) < 0) {}
        ::_exit(127);
    }
    ::setlocale(LC_ALL, "C");
    ::clearenv();
    for (std::size_t i = 2 + static_cast<std::size_t>(argc); i < strings.size(); ++i) ::putenv(strings[i]);
    std::vector<char*> argv(strings.begin() + 2, strings.begin() + 2 + argc);
    argv.push_back(nullptr);
    std::exit(runMain(argc, argv.data()));
}

void startRun(int control, Message& m, std::set<pid_t>& runs, const int wake[2], int (*runMain)(int, char**)) {
    int argc = 0;
    const std::vector<char*> strings = requestStrings(m, argc);
    if (strings.empty()) {
        sendMessage(control, packInts('F', EINVAL));
        return;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(wake[0]);
        ::close(wake[1]);
        becomeRun(strings, argc, m.fds, runMain);
    }
    if (pid < 0) {
        sendMessage(control, packInts('F', errno));
        return;
    }
    runs.insert(pid);
    sendMessage(control, packInts('P', pid));
}

void reapRuns(int control, int wakeRead, std::set<pid_t>& runs) {
    char drained[64];
    while (::read(wakeRead, drained, sizeof drained) > 0) {}
    int status = 0;
    pid_t pid;
    while ((pid = ::waitpid(-1, &status, WNOHANG)) > 0) {
        runs.erase(pid);
        sendMessage(control, packInts('X', pid, status));
    }
}

// Under a test's hold (launcherHold), nothing more is read until it is let go.
void waitWhileHeld(int hold) {
    pollfd released{hold, POLLIN, 0};
    while (hold >= 0 && ::poll(&released, 1, -1) < 0 && errno == EINTR) {}
}

}  // namespace

int serveForkedRuns(int (*runMain)(int, char**)) {
    const int control = STDIN_FILENO;
    int wake[2];
    if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) return 1;
    gRunEnded = wake[1];
    struct sigaction onEnd {};
    onEnd.sa_handler = onRunEnded;
    onEnd.sa_flags = SA_RESTART | SA_NOCLDSTOP;
    ::sigemptyset(&onEnd.sa_mask);
    ::sigaction(SIGCHLD, &onEnd, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
    // The locale's files read once here: each run's own setlocale() then
    // finds them loaded (it starts in "C", as a program started anew).
    ::setlocale(LC_ALL, "");
    std::set<pid_t> runs;
    const int hold = launcherHold();
    if (!sendMessage(control, {'R'})) return 1;
    for (;;) {
        pollfd p[2] = {{control, POLLIN, 0}, {wake[0], POLLIN, 0}};
        if (::poll(p, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return 1;
        }
        if (p[1].revents & POLLIN) reapRuns(control, wake[0], runs);
        if (!(p[0].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        Message m;
        const int got = receiveMessage(control, m, kMostRequest, 0);
        if (got == 0) return 0;   // the parent has gone; its runs go on alone
        if (got < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            return 1;
        }
        if (m.kind == 'S') startRun(control, m, runs, wake, runMain);
        else if (m.kind == 'K' && runs.count(intAt(m, 0))) ::kill(intAt(m, 0), intAt(m, 1));
        closeAll(m.fds);
        if (m.kind == 'S') waitWhileHeld(hold);
    }
}

