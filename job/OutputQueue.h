#pragma once
// The program's lines for standard output and standard error, written by a
// thread of their own. A write to a console can stop for as long as the user
// likes (a click into a Windows console with QuickEdit on, Ctrl-S in a
// terminal) and a pipe whose reader is busy stops it too; the threads that
// work the line (the wire trace, a fleet's board and its children) must never
// wait for that, or a frame's timing and a stop would wait with it. So they
// only queue their bytes; the queue keeps the order of every write across
// both streams.
//
// Bounded: while the streams take nothing, at most kMostQueuedBytes wait
// (far more than a run's trace or a day's board); a write that finds the
// queue full waits for room, as it would have waited for the stream, so
// nothing is ever left out. Everything queued is written before the process
// exits normally (an exit handler waits for it).
#include <chrono>
#include <cstddef>
#include <ostream>
#include <string>

namespace output_queue {

enum class Stream { Out, Err };

inline constexpr std::size_t kMostQueuedBytes = 4 * 1024 * 1024;

// Queues `bytes` for `stream` and returns at once (unless the queue is full).
void write(Stream stream, std::string bytes);

// Standard output through the queue, as a stream (the job's trace, written
// on the job's thread): what is written goes in at each line end and flush.
// For one writing thread at a time.
std::ostream& standardOutput();

// Waits until everything queued before the call is written (or found
// unwritable), at most `most` (without end when negative). True when it was.
bool drain(std::chrono::milliseconds most = std::chrono::milliseconds(-1));

}  // namespace output_queue
