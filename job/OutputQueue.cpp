#include "OutputQueue.h"

#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <streambuf>
#include <thread>

namespace output_queue {

namespace {

struct Item {
    Stream stream;
    std::string bytes;
};

struct Queue {
    std::mutex lock;
    std::condition_variable changed;
    std::deque<Item> items;
    std::size_t bytes = 0;
    std::uint64_t accepted = 0;   // writes queued so far
    std::uint64_t done = 0;       // of those, written (or found unwritable)
    bool started = false;
};

// Never destroyed: the writer thread may still wait on it while the
// process's static objects are destroyed at exit. Made on the first write,
// so a launcher that forks runs and writes nothing hands each fork a queue
// that has no thread yet.
Queue& theQueue() {
    static Queue* queue = new Queue;
    return *queue;
}

void put(Stream stream, const std::string& bytes) {
    std::FILE* to = stream == Stream::Out ? stdout : stderr;
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), to) != bytes.size()) std::clearerr(to);
    if (std::fflush(to) != 0) std::clearerr(to);   // a reader gone: the lines are lost, the run goes on
}

void writeForever() {
    Queue& queue = theQueue();
    std::unique_lock<std::mutex> lock(queue.lock);
    for (;;) {
        queue.changed.wait(lock, [&queue] { return !queue.items.empty(); });
        Item item = std::move(queue.items.front());
        queue.items.pop_front();
        lock.unlock();
        put(item.stream, item.bytes);
        lock.lock();
        queue.bytes -= item.bytes.size();
        ++queue.done;
        queue.changed.notify_all();
    }
}

void drainAtExit() { drain(); }

// Collects a line, then queues it.
class LineBuffer : public std::streambuf {
protected:
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
        line_.push_back(traits_type::to_char_type(c));
        if (c == '\n') sync();
        return c;
    }
    std::streamsize xsputn(const char* text, std::streamsize count) override {
        for (std::streamsize i = 0; i < count; ++i) overflow(traits_type::to_int_type(text[i]));
        return count;
    }
    int sync() override {
        if (!line_.empty()) write(Stream::Out, std::move(line_));
        line_.clear();
        return 0;
    }

private:
    std::string line_;
};

}  // namespace

void write(Stream stream, std::string bytes) {
    Queue& queue = theQueue();
    std::unique_lock<std::mutex> lock(queue.lock);
    // Full: the writer waits, as it would for the stream itself. A write
    // larger than the bound goes in alone.
    queue.changed.wait(lock, [&queue, &bytes] {
        return queue.bytes == 0 || queue.bytes + bytes.size() <= kMostQueuedBytes;
    });
    if (!queue.started) {
        queue.started = true;
        std::thread(writeForever).detach();
        std::atexit(drainAtExit);
    }
    queue.bytes += bytes.size();
    queue.items.push_back(Item{stream, std::move(bytes)});
    ++queue.accepted;
    queue.changed.notify_all();
}

std::ostream& standardOutput() {
    static LineBuffer* buffer = new LineBuffer;
    static std::ostream* stream = new std::ostream(buffer);
    return *stream;
}

bool drain(std::chrono::milliseconds most) {
    Queue& queue = theQueue();
    std::unique_lock<std::mutex> lock(queue.lock);
    const std::uint64_t target = queue.accepted;
    const auto written = [&queue, target] { return queue.done >= target; };
    if (most.count() < 0) {
        queue.changed.wait(lock, written);
        return true;
    }
    return queue.changed.wait_for(lock, most, written);
}

}  // namespace output_queue
