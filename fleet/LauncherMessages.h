#pragma once
// How a fleet's parent and its rechannel-cli launcher talk (ChildProcess.h):
// over a socket pair that keeps each message whole (SOCK_SEQPACKET), the
// first byte saying what it is (Kind). Only the launcher reaps the runs, so a
// pid it signals is always its own.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace launcher_messages {

// A message's first byte.
enum class Kind : char {
    None = 0,   // a message cut short: ignored
    // To the launcher.
    Start = 'S',   // cwd NUL argc NUL argv... NUL env... NUL, with the run's
                   // standard input, output and error attached
    Kill = 'K',    // pid signal: signal a run not yet reaped
    // To the parent.
    Ready = 'R',
    Started = 'P',   // pid: the answer to a Start, in order
    Failed = 'F',    // errno: the answer to a Start that did not start
    Ended = 'X',     // pid wait-status: a run has ended
};

constexpr std::size_t kMostRequest = 128 * 1024;   // one run's arguments and environment (below the socket's buffer)
constexpr std::size_t kMostAnswer = 64;
constexpr int kDescriptors = 3;

struct Message {
    Kind kind = Kind::None;
    std::vector<char> body;
    std::vector<int> fds;
};

void closeAll(const std::vector<int>& fds);
// A message of its kind alone, and one of its kind with one or two ints.
std::vector<char> packKind(Kind kind);
std::vector<char> packInts(Kind kind, std::int32_t a, std::int32_t b = 0);
// The index'th int of a message from packInts; -1 when it is too short.
std::int32_t intAt(const Message& m, std::size_t index);
bool sendMessage(int fd, const std::vector<char>& bytes, const int* fds = nullptr, int count = 0);
// 1: a message (Kind::None for one cut short); 0: the other side has gone;
// -1: nothing there (with MSG_DONTWAIT) or an error, as errno says.
int receiveMessage(int fd, Message& out, std::size_t most, int flags);

// A test's hold on the launcher, for what only timing reaches otherwise: a
// parent that goes while signals for its runs still wait unread. With
// RECHANNEL_LAUNCHER_HOLD_FD naming an eventfd both inherit, the launcher
// reads nothing after answering a start until the eventfd is signalled, and
// the parent signals it once it has shut its side and waits for the
// launcher's end. Unset (always, outside tests) it costs one getenv.
int launcherHold();   // the eventfd; -1 when not held

}  // namespace launcher_messages
