#pragma once
// How a fleet's parent and its rechannel-cli launcher talk (ChildProcess.h):
// over a socket pair that keeps each message whole (SOCK_SEQPACKET), the
// first byte saying what it is:
//   to the launcher   'S' cwd NUL argc NUL argv... NUL env... NUL, with the
//                         run's standard input, output and error attached
//                     'K' pid signal: signal a run not yet reaped
//   to the parent     'R' ready
//                     'P' pid or 'F' errno: the answer to each 'S', in order
//                     'X' pid wait-status: a run has ended
// Only the launcher reaps the runs, so a pid it signals is always its own.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace launcher_messages {

constexpr std::size_t kMostRequest = 128 * 1024;   // one run's arguments and environment (below the socket's buffer)
constexpr std::size_t kMostAnswer = 64;
constexpr int kDescriptors = 3;

struct Message {
    char kind = 0;
    std::vector<char> body;
    std::vector<int> fds;
};

void closeAll(const std::vector<int>& fds);
std::vector<char> packInts(char kind, std::int32_t a, std::int32_t b = 0);
// The index'th int of a message from packInts; -1 when it is too short.
std::int32_t intAt(const Message& m, std::size_t index);
bool sendMessage(int fd, const std::vector<char>& bytes, const int* fds = nullptr, int count = 0);
// 1: a message (kind 0 for one cut short); 0: the other side has gone;
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
