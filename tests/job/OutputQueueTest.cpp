// The program's output queue: a stream that takes nothing (a paused console,
// a reader that does not read) never holds back the thread that writes, the
// order of every write across both streams is kept, nothing is left out,
// and the queue's memory is bounded by making a writer wait.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <future>
#include <string>

#include "OutputQueue.h"

namespace {

using namespace std::chrono_literals;
using output_queue::Stream;

// Standard output and standard error both into one pipe of the smallest
// size, which nobody reads until read() is called; put back at the end.
class StalledStreams {
public:
    StalledStreams() {
        std::fflush(stdout);
        std::fflush(stderr);
        savedOut_ = ::dup(STDOUT_FILENO);
        savedErr_ = ::dup(STDERR_FILENO);
        if (::pipe2(pipe_, O_CLOEXEC) != 0) return;
        ::fcntl(pipe_[1], F_SETPIPE_SZ, 4096);
        ok_ = ::dup2(pipe_[1], STDOUT_FILENO) >= 0 && ::dup2(pipe_[1], STDERR_FILENO) >= 0;
    }
    ~StalledStreams() {
        restore();
        if (reader_.valid()) reader_.wait();
        if (pipe_[0] >= 0) ::close(pipe_[0]);
    }
    bool ok() const { return ok_; }

    // Reads on a thread of its own until the streams are put back.
    void startReading() {
        reader_ = std::async(std::launch::async, [fd = pipe_[0]] {
            std::string all;
            char buffer[65536];
            for (;;) {
                const ssize_t n = ::read(fd, buffer, sizeof buffer);
                if (n <= 0) return all;
                all.append(buffer, static_cast<std::size_t>(n));
            }
        });
    }
    // Everything that went into the pipe (startReading first).
    std::string read() {
        restore();
        return reader_.valid() ? reader_.get() : std::string();
    }

private:
    void restore() {
        if (savedOut_ < 0) return;
        ::dup2(savedOut_, STDOUT_FILENO);
        ::dup2(savedErr_, STDERR_FILENO);
        for (int fd : {savedOut_, savedErr_, pipe_[1]}) ::close(fd);
        savedOut_ = -1;
    }

    int pipe_[2] = {-1, -1};
    int savedOut_ = -1;
    int savedErr_ = -1;
    bool ok_ = false;
    std::future<std::string> reader_;
};

std::string line(char kind, int number) {
    return std::string(1, kind) + std::to_string(number) + std::string(990, '.') + '\n';
}

TEST(OutputQueue, AStreamThatTakesNothingNeverHoldsTheWriterAndKeepsTheOrder) {
    StalledStreams streams;
    ASSERT_TRUE(streams.ok());
    // About 200 kB, fifty times what the pipe holds: written to the streams
    // directly, the first few lines would block this thread for good.
    std::string expected;
    for (int i = 0; i < 200; ++i) expected += line(i % 3 == 0 ? 'o' : 'e', i);
    auto written = std::async(std::launch::async, [] {
        for (int i = 0; i < 200; ++i) {
            const Stream stream = i % 3 == 0 ? Stream::Out : Stream::Err;
            output_queue::write(stream, line(stream == Stream::Out ? 'o' : 'e', i));
        }
    });
    const bool returned = written.wait_for(10s) == std::future_status::ready;
    const bool drainedWhileStalled = output_queue::drain(100ms);
    streams.startReading();
    const bool drained = output_queue::drain(10s);
    const std::string got = streams.read();
    EXPECT_TRUE(returned) << "a write waited for the stream";
    EXPECT_FALSE(drainedWhileStalled);
    EXPECT_TRUE(drained);
    EXPECT_EQ(got, expected);
}

TEST(OutputQueue, AFullQueueMakesTheWriterWaitAndLosesNothing) {
    StalledStreams streams;
    ASSERT_TRUE(streams.ok());
    const std::size_t chunk = 64 * 1024;
    const std::size_t chunks = output_queue::kMostQueuedBytes / chunk + 16;
    auto written = std::async(std::launch::async, [chunk, chunks] {
        for (std::size_t i = 0; i < chunks; ++i) output_queue::write(Stream::Err, std::string(chunk, char('a' + i % 26)));
    });
    const bool heldBack = written.wait_for(500ms) == std::future_status::timeout;
    streams.startReading();
    const bool finished = written.wait_for(30s) == std::future_status::ready;
    output_queue::drain(30s);
    const std::string got = streams.read();
    EXPECT_TRUE(heldBack) << "more than the bound was queued";
    EXPECT_TRUE(finished);
    ASSERT_EQ(got.size(), chunk * chunks);
    for (std::size_t i = 0; i < chunks; ++i) EXPECT_EQ(got[i * chunk], char('a' + i % 26)) << i;
}

}  // namespace
