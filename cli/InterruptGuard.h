#pragma once
// Ctrl-C, termination requests and a closed terminal (SIGINT, SIGTERM,
// SIGHUP; console control events on Windows) for the commands that write to
// a station. Before the first write an interrupt ends the process at once:
// standard error says that nothing was written and the exit status is 130.
// From the first write to the restart it is deferred: standard error says
// once that the station is being written and must stay connected, and the
// run ends as usual. Built on stop_requests, which the fleet and the
// simulator share.
#include <functional>

namespace interrupt_guard {

// Installs the handlers; call before the first exchange with the station.
void install();

// Called once, on an ordinary thread (never inside a signal handler), when
// an interrupt ends the process before the first write: the run is recorded
// (its ledger line) before the exit. Set it before install().
void setBeforeExit(std::function<void()> hook);

// Call when the run has ended, before it is recorded and reported: later
// interrupts no longer end it. False when an interrupt before the first write
// came first: the run then ends as interrupted (exitInterrupted).
bool closeRun();
// Call once the run's ledger line is on disk: a closed console may end the
// process from then on.
void runRecorded();

// Records the interrupted run through the hook, once whoever comes first
// (the handler's side or the main thread), and ends the process with 130.
[[noreturn]] void exitInterrupted();

// Call just before the first write. False when an interrupt came first: the
// process is already ending and nothing may be written.
bool enterWritePhase();

// Call after the restart, or when the run ends without one.
void leaveWritePhase();

// For the commands that only read the station (status, routes, sniff) and
// the simulator, instead of install(): Ctrl-C, a termination request and a
// closed terminal (SIGHUP) end nothing at once; they ask the command to stop
// between two reads, so what it has read is still stored. Nothing is said.
void installStopRequest();
// True once an interrupt asked a reading command to stop.
bool stopRequested();
// Waits up to `ms` milliseconds (without end when negative), less when a
// stop is asked or has been; returns stopRequested().
bool waitUnlessStopped(int ms);

}  // namespace interrupt_guard
