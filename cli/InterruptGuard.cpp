#include "InterruptGuard.h"

#include <mutex>

#include "CliOutput.h"
#include "OutputQueue.h"
#include "StopRequests.h"

namespace interrupt_guard {

namespace {
constexpr char kNothingWritten[] = "rechannel-cli: interrupted before the first write; nothing was written to the station\n";
constexpr char kKeepConnected[] =
    "rechannel-cli: interrupted while the station is being written; keep it connected, the run ends after the restart\n";

std::function<void()> beforeExit;
std::once_flag exitOnce;
// What is queued for the console gets this long before the process ends at
// once (no exit handler runs then).
constexpr std::chrono::milliseconds kLastLinesMs{1000};
}  // namespace

void setBeforeExit(std::function<void()> hook) { beforeExit = std::move(hook); }

void install() { stop_requests::catchRequests({kNothingWritten, kKeepConnected, exitInterrupted, true}); }

// Each change of phase is told to the hidden window that holds the end of
// the session while the run holds the process.
bool closeRun() {
    const bool closed = stop_requests::processState().closeRun();
    stop_requests::stateChanged();
    return closed;
}

void runRecorded() {
    stop_requests::processState().recorded();
    stop_requests::stateChanged();
}

// A second caller blocks in call_once until the first has ended the process.
void exitInterrupted() {
    std::call_once(exitOnce, [] {
        if (beforeExit) beforeExit();
        output_queue::drain(kLastLinesMs);
        restoreStandardStreams();   // TerminateProcess runs no exit handler
        stop_requests::endProcess();
    });
    stop_requests::endProcess();
}

bool enterWritePhase() {
    const bool entered = stop_requests::processState().enterWritePhase();
    stop_requests::stateChanged();
    return entered;
}

void leaveWritePhase() {
    stop_requests::processState().leaveWritePhase();
    stop_requests::stateChanged();
}

void installStopRequest() {
    stop_requests::processState().ask();
    stop_requests::catchRequests({});
}

bool stopRequested() { return stop_requests::processState().stopAsked(); }

bool waitUnlessStopped(int ms) { return stop_requests::waitForStop(ms); }

}  // namespace interrupt_guard
