// The console's Ctrl-C, Ctrl-Break and close events. The console runs the
// handler on a thread of its own for each event: it may lock, post to the
// event loop and record the run itself before the process ends.
#include <windows.h>

#include <QProcess>
#include <csignal>
#include <cstring>
#include <mutex>

#include "LedgerSync.h"
#include "SessionEnd.h"
#include "StopRequests.h"

namespace stop_requests {

namespace {

Catching catching;
// Auto-reset: each request wakes one wait once.
HANDLE askedEvent = nullptr;
bool caught = false;
std::mutex notifierLock;
StopNotifier* notifier = nullptr;

void say(const char* text) {
    if (!text) return;
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
}

// The event as the signal a POSIX runner would have seen.
int signalOf(DWORD event) {
    if (event == CTRL_C_EVENT) return SIGINT;
    if (event == CTRL_BREAK_EVENT) return SIGBREAK;
    return SIGTERM;
}

void notify(int signal) {
    const std::lock_guard<std::mutex> lock(notifierLock);
    if (notifier)
        QMetaObject::invokeMethod(notifier, [target = notifier, signal] { emit target->requested(signal); },
                                  Qt::QueuedConnection);
}

// Closing the console, logging off and shutting down end the process as soon
// as the handler returns, whatever it returns; the system gives the handler
// about five seconds first (SPI_GETHUNGAPPTIMEOUT, lower on some machines).
// The end of the session reaches the hidden window instead (WM_ENDSESSION)
// and ends the process the same way once it has been answered. A run that
// is writing the station gets that time to reach its restart (a move takes
// about two and a half) and to put its ledger line on disk, so that neither
// leaves the station half-written nor the move unrecorded; a held ledger is
// not waited for then (ledger::hurry), the line goes to the pending file at
// once. Past the grace the system ends the process wherever it is.
constexpr ULONGLONG kCloseGraceMs = 4500;

bool endsTheProcess(DWORD event) {
    return event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT;
}

void holdUntilRecorded() {
    const ULONGLONG until = GetTickCount64() + kCloseGraceMs;
    while (processState().holdsProcess() && GetTickCount64() < until) Sleep(20);
}

void act(int signal) {
    switch (processState().onRequest()) {
    case Action::End:
        say(catching.ended);
        if (catching.onEnd) catching.onEnd();   // an ordinary thread: the run is recorded first
        endProcess();
    case Action::Announce:
        say(catching.deferred);
        break;
    case Action::Ask:
        if (askedEvent) SetEvent(askedEvent);
        notify(signal);
        break;
    case Action::Ignore:
        break;
    }
}

// A request after which the process is ended from outside.
void actBeforeTheEnd(int signal) {
    ledger::hurry();
    act(signal);
    holdUntilRecorded();
}

BOOL WINAPI onConsoleEvent(DWORD event) {
    if (endsTheProcess(event)) actBeforeTheEnd(signalOf(event));
    else act(signalOf(event));
    return TRUE;   // handled: the run goes on to its restart
}

// rechannel-cli's hidden window, made once with the first catchRequests and
// never destroyed: the process's end takes its thread with it.
session_end::Window* sessionWindow = nullptr;

void openSessionWindow() {
    if (sessionWindow) return;
    sessionWindow = new session_end::Window({[] { return processState().holdsProcess(); }, sessionEnding});
    sessionWindow->open();
}

long readStandardInput(char* buffer, unsigned long size) {
    DWORD read = 0;
    if (!ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, static_cast<DWORD>(size), &read, nullptr)) return -1;
    return static_cast<long>(read);
}

// A stop line is the Ctrl-Break a runner sharing the console would have sent.
void requestByLine() { onConsoleEvent(CTRL_BREAK_EVENT); }

DWORD WINAPI followInput(LPVOID) {
    readStopLines(readStandardInput, requestByLine);
    return 0;
}

}  // namespace

void followStopLines() {
    static bool following = false;
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    if (following || !stopLinesWanted() || input == nullptr || input == INVALID_HANDLE_VALUE) return;
    following = true;
    if (const HANDLE thread = CreateThread(nullptr, 0, followInput, nullptr, 0, nullptr)) CloseHandle(thread);
}

void catchRequests(const Catching& how) {
    catching = how;
    if (!askedEvent) askedEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
    caught = true;
    followStopLines();
    openSessionWindow();
}

void sessionEnding() { actBeforeTheEnd(SIGTERM); }

void stateChanged() {
    if (sessionWindow) sessionWindow->update();
}

void releaseRequests() {
    if (caught) SetConsoleCtrlHandler(onConsoleEvent, FALSE);
    caught = false;
}

bool waitForStop(int ms) {
    if (!processState().stopAsked() && ms != 0) {
        const DWORD wait = ms < 0 ? INFINITE : static_cast<DWORD>(ms);
        if (askedEvent) WaitForSingleObject(askedEvent, wait);
        else Sleep(wait);
    }
    return processState().stopAsked();
}

// TerminateProcess, not ExitProcess: the worker thread may be inside a read,
// and DLL detach and static destructors must not run under it.
void endProcess() {
    TerminateProcess(GetCurrentProcess(), kEndedStatus);
    ExitProcess(kEndedStatus);   // not reached
}

// A console child in a process group of its own ignores the console's Ctrl-C;
// the runner passes each request on as Ctrl-Break, which can be sent to one
// group. The child's handler takes either as a stop request.
void keepChildApart(QProcess& child) {
    child.setCreateProcessArgumentsModifier(
        [](QProcess::CreateProcessArguments* arguments) { arguments->flags |= CREATE_NEW_PROCESS_GROUP; });
}

void forwardToChild(qint64 pid, int) { GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, static_cast<DWORD>(pid)); }

struct StopNotifier::Impl {};

StopNotifier::StopNotifier(QObject* parent) : QObject(parent), impl_(std::make_unique<Impl>()) {
    processState().ask();
    {
        const std::lock_guard<std::mutex> lock(notifierLock);
        notifier = this;
    }
    catchRequests({nullptr, nullptr, nullptr, true});
}

StopNotifier::~StopNotifier() {
    {
        const std::lock_guard<std::mutex> lock(notifierLock);
        notifier = nullptr;
    }
    releaseRequests();
}

}  // namespace stop_requests
