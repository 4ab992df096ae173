// A reading command's wait for a stop request must end whichever thread the
// signal lands on: the kernel hands a process-directed SIGINT to any thread
// that does not block it, often not the one that waits.
#include <pthread.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QFile>
#include <atomic>
#include <chrono>
#include <future>
#include <gtest/gtest.h>
#include <thread>

#include "InterruptGuard.h"

namespace {

// True once thread `tid` of this process is asleep in a blocking call.
bool asleep(pid_t tid) {
    QFile stat(QStringLiteral("/proc/self/task/%1/stat").arg(tid));
    if (!stat.open(QIODevice::ReadOnly)) return false;
    const QByteArray text = stat.readAll();
    const int end = text.lastIndexOf(')');   // the state follows the command name
    return end >= 0 && text.mid(end + 2, 1) == "S";
}

TEST(InterruptWait, AStopSignalOnAnotherThreadWakesTheWait) {
    interrupt_guard::installStopRequest();
    std::atomic<pid_t> waiterId{0};
    std::promise<bool> result;
    std::future<bool> woke = result.get_future();
    std::thread waiter([&] {
        waiterId = static_cast<pid_t>(::syscall(SYS_gettid));
        result.set_value(interrupt_guard::waitUnlessStopped(600000));
    });
    bool waiting = false;
    for (int i = 0; i < 30000 && !waiting; ++i) {
        waiting = waiterId != 0 && asleep(waiterId);
        if (!waiting) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(waiting) << "the wait never blocked";

    std::thread([] { ::pthread_kill(::pthread_self(), SIGINT); }).join();
    const bool ended = woke.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
    EXPECT_TRUE(ended) << "a signal on another thread did not end the wait";
    if (!ended) ::pthread_kill(waiter.native_handle(), SIGINT);   // let it go, to end the test
    waiter.join();
    EXPECT_TRUE(woke.get()) << "the wait did not report the stop";
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) ::signal(signal, SIG_DFL);
}

}  // namespace
