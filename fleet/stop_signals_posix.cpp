// SIGINT/SIGTERM/SIGHUP (a closed terminal) through a self-pipe: the handler only writes the signal's
// number, the event loop reads it.
#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <csignal>

#include "StopSignals.h"

namespace {
int pipeFds[2] = {-1, -1};

extern "C" void onStopSignal(int signal) {
    const int saved = errno;
    const unsigned char number = static_cast<unsigned char>(signal);
    if (::write(pipeFds[1], &number, 1) < 0) {}
    errno = saved;
}
}  // namespace

struct StopSignals::Impl {
    struct sigaction oldInt {};
    struct sigaction oldTerm {};
    struct sigaction oldHup {};
    std::unique_ptr<QSocketNotifier> notifier;
};

StopSignals::StopSignals(QObject* parent) : QObject(parent), impl_(std::make_unique<Impl>()) {
    if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) return;
    impl_->notifier = std::make_unique<QSocketNotifier>(pipeFds[0], QSocketNotifier::Read);
    connect(impl_->notifier.get(), &QSocketNotifier::activated, this, [this] {
        unsigned char number = 0;
        while (::read(pipeFds[0], &number, 1) == 1) emit stopRequested(number);
    });
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, &impl_->oldInt);
    ::sigaction(SIGTERM, &action, &impl_->oldTerm);
    ::sigaction(SIGHUP, &action, &impl_->oldHup);
    ::signal(SIGPIPE, SIG_IGN);   // a closed output must not orphan the children mid-run
}

StopSignals::~StopSignals() {
    if (pipeFds[0] < 0) return;
    ::sigaction(SIGINT, &impl_->oldInt, nullptr);
    ::sigaction(SIGTERM, &impl_->oldTerm, nullptr);
    ::sigaction(SIGHUP, &impl_->oldHup, nullptr);
    impl_->notifier.reset();
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    pipeFds[0] = pipeFds[1] = -1;
}
