#include "PtyStationHost.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <thread>

#include "FrameAssembler.h"
#include "Responder.h"

namespace sim {

namespace {

using Clock = std::chrono::steady_clock;

// A request cut off mid-frame is given up after this much silence.
constexpr int kPartialFrameIdleMs = 100;
// A client that stops reading must not stall the station for ever.
constexpr int kWriteStallMs = 1000;
constexpr std::size_t kMaxRecordedFrames = 100000;

void closeFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

bool setCloexec(int fd) {
    const int flags = ::fcntl(fd, F_GETFD);
    return flags >= 0 && ::fcntl(fd, F_SETFD, flags | FD_CLOEXEC) == 0;
}

bool setNonblocking(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

}  // namespace

struct PtyStationHost::Impl {
    mutable std::mutex mutex;
    mutable std::condition_variable changed;   // a frame was recorded
    StationModel model;
    FaultScript faults;
    std::vector<WireFrame> frames;
    std::vector<std::uint8_t> stray;
    int exchanges = 0;
    bool hungUp = false;   // a HangUp fault came: the pty is closed once the frame is recorded
    std::function<void(const StationModel&)> onWrite;
    std::atomic<int> baud{0};

    int master = -1;
    int slaveKeeper = -1;   // keeps the slave side alive while clients come and go
    int wakeRead = -1;
    int wakeWrite = -1;
    std::string slavePath;
    std::thread thread;
    bool running = false;

    explicit Impl(StationModel m) : model(std::move(m)) {}

    void record(WireFrame::Direction direction, Clock::time_point time, std::vector<std::uint8_t> bytes) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (frames.size() < kMaxRecordedFrames) frames.push_back({direction, time, std::move(bytes)});
        }
        changed.notify_all();
    }

    // Before the frames of the same read are answered, so a client that has
    // its reply finds the stray bytes sent with its request recorded.
    void keepStray(FrameAssembler& assembler) {
        const std::vector<std::uint8_t> bytes = assembler.takeStrayBytes();
        if (bytes.empty()) return;
        std::lock_guard<std::mutex> lock(mutex);
        const std::size_t room = FrameAssembler::kMaxStray - std::min(stray.size(), FrameAssembler::kMaxStray);
        stray.insert(stray.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(std::min(room, bytes.size())));
    }

    bool stopRequested() const {
        pollfd p{wakeRead, POLLIN, 0};
        return ::poll(&p, 1, 0) > 0;
    }

    // Sleeps until `deadline` with sub-millisecond precision; false when
    // stop() interrupted the wait.
    bool waitUntil(Clock::time_point deadline) const {
        for (;;) {
            const auto now = Clock::now();
            if (now >= deadline) return !stopRequested();
            const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - now).count();
            timespec ts{static_cast<time_t>(left / 1000000000), static_cast<long>(left % 1000000000)};
            pollfd p{wakeRead, POLLIN, 0};
            const int r = ::ppoll(&p, 1, &ts, nullptr);
            if (r > 0) return false;
            if (r < 0 && errno != EINTR) return false;
        }
    }

    // Writes every byte or gives up after kWriteStallMs without progress.
    bool writeAll(const std::uint8_t* data, std::size_t length) const {
        std::size_t done = 0;
        while (done < length) {
            const ssize_t n = ::write(master, data + done, length - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
            pollfd p[2] = {{master, POLLOUT, 0}, {wakeRead, POLLIN, 0}};
            const int r = ::poll(p, 2, kWriteStallMs);
            if (r <= 0 || (p[1].revents & POLLIN)) {
                // Nobody is reading: throw the stale queue away rather than block.
                ::tcflush(slaveKeeper, TCIFLUSH);
                return false;
            }
        }
        return true;
    }

    // How many bytes cross the line in 1 ms at `rate` (10 bits a byte); at
    // least one.
    static std::size_t bytesPerSlice(int rate) { return static_cast<std::size_t>(std::max(1, rate / 10 / 1000)); }

    // Sends the response. With pacing, no byte leaves before its last bit
    // would have crossed a real line (a millisecond's bytes together),
    // counted from the moment the
    // request's last bit would have arrived (the station cannot answer
    // earlier), on absolute deadlines so that nothing drifts.
    //
    // The reply is recorded just before its last byte goes out, so a client
    // that has the whole reply always finds it in frames(). A reply cut off
    // (stop, or a client that stopped reading) is recorded as far as it went.
    void send(const Response& response, const FrameAssembler::Frame& request) {
        if (response.silent()) return;
        const int rate = baud.load();
        const auto byteTime = rate > 0 ? std::chrono::nanoseconds(10'000'000'000LL / rate) : std::chrono::nanoseconds(0);
        Clock::time_point t = Clock::now();
        if (rate > 0) t = std::max(t, request.firstByte + byteTime * static_cast<long>(request.bytes.size()));
        const std::size_t total = response.allBytes().size();
        std::vector<std::uint8_t> sent;
        sent.reserve(total);
        auto cutOff = [&] { record(WireFrame::Direction::FromStation, Clock::now(), std::move(sent)); };
        for (const ReplySegment& segment : response.segments) {
            t += std::chrono::milliseconds(segment.delayMs);
            std::size_t i = 0;
            while (i < segment.bytes.size()) {
                std::size_t n = segment.bytes.size() - i;
                if (rate > 0) {
                    // The bytes of one millisecond leave together, once the
                    // last of them is due, as a USB adapter delivers them in
                    // its 1 ms frames: never before the wire could carry
                    // them, and with a wake-up per slice rather than per byte.
                    n = std::min(segment.bytes.size() - i, bytesPerSlice(rate));
                    t += byteTime * static_cast<long>(n);
                    if (!waitUntil(t)) return cutOff();
                    // Running late: let everything that is already due go together.
                    const auto now = Clock::now();
                    while (i + n < segment.bytes.size() && t + byteTime <= now) {
                        t += byteTime;
                        ++n;
                    }
                } else if (!waitUntil(t)) {
                    return cutOff();
                }
                const auto chunk = segment.bytes.begin() + static_cast<std::ptrdiff_t>(i);
                const bool last = sent.size() + n == total;
                if (last) record(WireFrame::Direction::FromStation, Clock::now(), response.allBytes());
                if (!writeAll(segment.bytes.data() + i, n)) {
                    if (!last) cutOff();
                    return;
                }
                sent.insert(sent.end(), chunk, chunk + static_cast<std::ptrdiff_t>(n));
                i += n;
            }
        }
    }

    void answer(const FrameAssembler::Frame& frame, Clock::time_point arrived) {
        Response response;
        std::function<void(const StationModel&)> callback;
        StationModel written;
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (frames.size() < kMaxRecordedFrames)
                frames.push_back({WireFrame::Direction::ToStation, arrived, frame.bytes});
            if (!frame.intact) {   // damaged: not an exchange, no answer
                changed.notify_all();
                return;
            }
            const Fault fault = faults.faultFor(exchanges++);
            hungUp = hungUp || fault.kind == Fault::Kind::HangUp;
            response = respond(frame.bytes, model, fault);
            if (response.wroteMemory && onWrite) {
                callback = onWrite;
                written = model;
            }
        }
        changed.notify_all();
        send(response, frame);
        if (callback) callback(written);
    }

    void run() {
#ifdef __linux__
        // Byte pacing needs wake-ups close to their deadlines.
        ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
#endif
        FrameAssembler assembler;
        std::uint8_t buffer[512];
        for (;;) {
            pollfd p[2] = {{master, POLLIN, 0}, {wakeRead, POLLIN, 0}};
            const int r = ::poll(p, 2, assembler.hasPartial() ? kPartialFrameIdleMs : -1);
            if (r < 0) {
                if (errno == EINTR) continue;
                return;
            }
            if (p[1].revents & POLLIN) return;
            if (r == 0) {
                const auto now = Clock::now();
                const auto complete = assembler.dropPartial();
                keepStray(assembler);
                for (const auto& f : complete) answer(f, now);
                continue;
            }
            if (p[0].revents & POLLIN) {
                const ssize_t n = ::read(master, buffer, sizeof buffer);
                if (n > 0) {
                    const auto now = Clock::now();
                    const auto complete = assembler.feed(buffer, static_cast<std::size_t>(n), now);
                    keepStray(assembler);
                    for (const auto& f : complete) answer(f, now);
                    if (hungUp) return hangUp();
                    continue;
                }
                if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            }
            // Hang-up or error on the master (not expected while the keeper
            // is open): wait a little instead of spinning, stay stoppable.
            pollfd w{wakeRead, POLLIN, 0};
            if (::poll(&w, 1, 10) > 0) return;
        }
    }

    // The client's side of the line sees it gone, as when an adapter is
    // pulled out; the station answers nothing more.
    void hangUp() {
        closeFd(master);
        closeFd(slaveKeeper);
    }

    bool open() {
        master = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0) return false;
        char name[128];
        if (!setCloexec(master) || !setNonblocking(master) || ::grantpt(master) != 0 ||
            ::unlockpt(master) != 0 || ::ptsname_r(master, name, sizeof name) != 0)
            return false;
        slavePath = name;
        slaveKeeper = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (slaveKeeper < 0) return false;
        // Raw from the first moment: no echo, no line editing, no translation.
        termios tio{};
        if (::tcgetattr(slaveKeeper, &tio) != 0) return false;
        ::cfmakeraw(&tio);
        tio.c_cflag |= CLOCAL | CREAD;
        ::cfsetispeed(&tio, B57600);
        ::cfsetospeed(&tio, B57600);
        if (::tcsetattr(slaveKeeper, TCSANOW, &tio) != 0) return false;
        int pipeFds[2];
        if (::pipe(pipeFds) != 0) return false;
        wakeRead = pipeFds[0];
        wakeWrite = pipeFds[1];
        return setCloexec(wakeRead) && setCloexec(wakeWrite);
    }

    void closeAll() {
        closeFd(master);
        closeFd(slaveKeeper);
        closeFd(wakeRead);
        closeFd(wakeWrite);
    }
};

PtyStationHost::PtyStationHost(StationModel model) : impl_(std::make_unique<Impl>(std::move(model))) {}

PtyStationHost::~PtyStationHost() { stop(); }

bool PtyStationHost::start() {
    if (impl_->running) return true;
    if (!impl_->open()) {
        impl_->closeAll();
        return false;
    }
    impl_->thread = std::thread([this] { impl_->run(); });
    impl_->running = true;
    return true;
}

void PtyStationHost::stop() {
    if (!impl_->running) return;
    const std::uint8_t wake = 1;
    while (::write(impl_->wakeWrite, &wake, 1) < 0 && errno == EINTR) {
    }
    impl_->thread.join();
    impl_->closeAll();
    impl_->running = false;
}

std::string PtyStationHost::slavePath() const { return impl_->slavePath; }

std::wstring PtyStationHost::slavePathW() const {
    const std::string& p = impl_->slavePath;
    return std::wstring(p.begin(), p.end());   // device paths are ASCII
}

void PtyStationHost::setPacing(int baud) { impl_->baud.store(baud > 0 ? baud : 0); }

void PtyStationHost::withModel(const std::function<void(StationModel&)>& fn) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    fn(impl_->model);
}

StationModel PtyStationHost::snapshot() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->model;
}

void PtyStationHost::setFaults(const FaultScript& script) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->faults = script;
}

std::vector<WireFrame> PtyStationHost::frames() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->frames;
}

std::vector<std::uint8_t> PtyStationHost::strayBytes() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->stray;
}

void PtyStationHost::clearFrames() {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->frames.clear();
    impl_->stray.clear();
}

bool PtyStationHost::waitForFrames(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(impl_->mutex);
    return impl_->changed.wait_for(lock, timeout, [&] { return impl_->frames.size() >= count; });
}

bool PtyStationHost::waitForRestarts(int count, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(impl_->mutex);
    return impl_->changed.wait_for(lock, timeout, [&] { return impl_->model.restarts >= count; });
}

int PtyStationHost::exchangeCount() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->exchanges;
}

void PtyStationHost::setOnWrite(std::function<void(const StationModel&)> callback) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->onWrite = std::move(callback);
}

}  // namespace sim
