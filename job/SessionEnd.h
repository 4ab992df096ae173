#pragma once
// The end of the desktop session (a log-off, a shut-down, an update's
// restart) while a station is being written: a station left between its
// first write and its restart is off the air until someone runs it again.
//
// Windows asks every top-level window first (WM_QUERYENDSESSION), then tells
// it that the session ends (WM_ENDSESSION) and ends the process once that
// message has been answered. A console program is not asked through its
// console handler (a program that loads user32, as Qt does, never gets the
// log-off and shut-down events), so rechannel-cli keeps a hidden top-level
// window of its own for these messages, on a thread of its own. The windows
// (rechannel, rechannel-fleet) answer through Qt and show the same reason.
//
// Plain C++ and Win32, no Qt: the window is also run by the Windows test
// program under Wine. Per platform (session_end_win32.cpp,
// session_end_posix.cpp); where the session's end reaches a process as a
// signal there is no window and no list of reasons.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

namespace session_end {

// What the system shows beside the program in its "apps are preventing
// shut-down" screen while a station is written (UTF-8).
inline constexpr char kReason[] =
    "Идёт запись станции. Дождитесь её окончания, иначе станция останется без связи.";

// Registers kReason for the native top-level window `window` (an HWND), or
// takes it back; call on the thread that made the window. showReason is
// false where the system keeps no such list or the call failed.
bool showReason(std::uintptr_t window);
void withdrawReason(std::uintptr_t window);

struct Hooks {
    // Whether the session must not end now: a station is being written, or
    // its run has ended without its ledger line on disk yet. Called on the
    // window's thread, often: lock-free.
    std::function<bool()> holds;
    // The session ends (WM_ENDSESSION): stops the run before its first write
    // or lets it reach its restart, and returns once the run is recorded;
    // the system ends the process after that.
    std::function<void()> ending;
    // How long a request to end the session is left unanswered while the
    // session is held, so that writes about to end are not cut short by the
    // answer (the system waits about 5 s for it).
    std::chrono::milliseconds answerWithin{4000};
};

// The hidden top-level window of a console program. While `holds` says so it
// carries kReason; asked whether the session may end, it waits up to
// `answerWithin` for the hold to end and refuses (answers FALSE) if it has
// not; told that the session ends, it calls `ending`.
class Window {
public:
    explicit Window(Hooks hooks);
    ~Window();
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    // Makes the window and starts its thread; false where there is no such
    // window (POSIX) or it could not be made.
    bool open();
    // The native handle (an HWND), 0 before open().
    std::uintptr_t handle() const;
    // Re-reads `holds` and shows or withdraws the reason; from any thread.
    void update();
    // Whether the reason is registered now (read on any thread).
    bool reasonShown() const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace session_end
