// The hidden window through which rechannel-cli holds the end of the
// session, run for real under Wine (cross-built into win32_link_test; the
// driver runs these cases, which need no station). The messages are sent the
// way the system sends them: to a top-level window, from another thread,
// waiting for the answer.

#include <gtest/gtest.h>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "SessionEnd.h"

namespace {

using namespace std::chrono_literals;

HWND hwndOf(const session_end::Window& window) { return reinterpret_cast<HWND>(window.handle()); }

// The answer to WM_QUERYENDSESSION (a log-off) and how long it took.
struct Answer {
    LRESULT result = -1;
    std::chrono::milliseconds took{0};
};

Answer askToEnd(const session_end::Window& window) {
    const auto start = std::chrono::steady_clock::now();
    DWORD_PTR result = 0;
    const LRESULT sent = SendMessageTimeoutW(hwndOf(window), WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_NORMAL,
                                             30000, &result);
    Answer answer;
    answer.result = sent ? static_cast<LRESULT>(result) : -1;
    answer.took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    return answer;
}

}  // namespace

// Top-level, so that the system asks it; never shown.
TEST(Win32SessionEnd, TheWindowIsAHiddenTopLevelWindow) {
    session_end::Window window({[] { return false; }, [] {}});
    ASSERT_TRUE(window.open());
    const HWND hwnd = hwndOf(window);
    ASSERT_NE(hwnd, nullptr);
    EXPECT_EQ(GetAncestor(hwnd, GA_PARENT), GetDesktopWindow());
    EXPECT_FALSE(IsWindowVisible(hwnd));
}

// Asked while no station is written, the session may end at once; while one
// is, the answer waits for the writes and is yes once the run is recorded,
// and no (refused) while the writes still go on when the wait is over.
TEST(Win32SessionEnd, AnEndOfTheSessionIsRefusedWhileAStationIsWritten) {
    const struct {
        const char* what;
        std::chrono::milliseconds heldFor;   // how long the run still holds; -1: all the time
        std::chrono::milliseconds answerWithin;
        LRESULT answer;
    } cases[] = {
        {"nothing written", 0ms, 2000ms, TRUE},
        {"the writes end within the wait", 300ms, 5000ms, TRUE},
        {"the writes go on", -1ms, 500ms, FALSE},
    };
    for (const auto& c : cases) {
        std::atomic<bool> holding{c.heldFor.count() != 0};
        session_end::Window window({[&holding] { return holding.load(); }, [] {}, c.answerWithin});
        ASSERT_TRUE(window.open()) << c.what;
        std::thread release;
        if (c.heldFor.count() > 0)
            release = std::thread([&holding, wait = c.heldFor] {
                std::this_thread::sleep_for(wait);
                holding = false;
            });
        const Answer answer = askToEnd(window);
        if (release.joinable()) release.join();
        EXPECT_EQ(answer.result, c.answer) << c.what;
        if (c.heldFor.count() > 0) {
            EXPECT_GE(answer.took, c.heldFor) << c.what << ": answered before the writes ended";
        } else if (c.heldFor.count() < 0) {
            EXPECT_GE(answer.took, c.answerWithin) << c.what;
        } else {
            EXPECT_LT(answer.took, c.answerWithin) << c.what;
        }
    }
}

// Told that the session ends, the window hands over to the run's own end
// (which records the run) before it answers; told that it does not end
// after all, it does nothing.
TEST(Win32SessionEnd, TheEndOfTheSessionEndsTheRunBeforeTheAnswer) {
    for (const bool ending : {true, false}) {
        std::atomic<int> ended{0};
        std::atomic<bool> recorded{false};
        session_end::Window window({[] { return true; }, [&ended, &recorded] {
                                        ++ended;
                                        std::this_thread::sleep_for(200ms);   // the run records its line
                                        recorded = true;
                                    }});
        ASSERT_TRUE(window.open());
        DWORD_PTR result = 1;
        ASSERT_NE(SendMessageTimeoutW(hwndOf(window), WM_ENDSESSION, ending ? TRUE : FALSE, ENDSESSION_LOGOFF,
                                      SMTO_NORMAL, 30000, &result),
                  0);
        EXPECT_EQ(ended.load(), ending ? 1 : 0);
        EXPECT_EQ(recorded.load(), ending) << "the answer came before the run was recorded";
        EXPECT_EQ(result, 0u);
    }
}
