#include "RawPty.h"

#include <pty.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <thread>

#include "Crc16Table.h"

RawPty::RawPty() {
    char name[256] = {};
    if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
        master_ = slave_ = -1;
        return;
    }
    path_ = name;
    // Raw on both sides so that no byte is translated or echoed.
    termios tio{};
    tcgetattr(slave_, &tio);
    cfmakeraw(&tio);
    tcsetattr(slave_, TCSANOW, &tio);
}

RawPty::~RawPty() {
    finishSending();
    closeMaster();
    if (slave_ >= 0) ::close(slave_);
}

std::wstring RawPty::slavePathW() const { return std::wstring(path_.begin(), path_.end()); }

void RawPty::send(const std::vector<std::uint8_t>& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno != EINTR && errno != EAGAIN) {
            return;
        }
    }
}

std::vector<std::uint8_t> RawPty::receive(std::size_t count, std::chrono::milliseconds limit) {
    std::vector<std::uint8_t> out;
    const auto end = std::chrono::steady_clock::now() + limit;
    while (out.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd p{master_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
        std::uint8_t buf[512];
        const std::size_t want = std::min(sizeof buf, count - out.size());
        const ssize_t n = ::read(master_, buf, want);
        if (n > 0) out.insert(out.end(), buf, buf + n);
        else if (n < 0 && errno != EINTR && errno != EAGAIN) break;
    }
    return out;
}

int RawPty::queuedForSlave() const {
    int n = 0;
    if (ioctl(slave_, TIOCINQ, &n) != 0) return -1;
    return n;
}

bool RawPty::waitQueuedForSlave(int count, std::chrono::milliseconds limit) {
    // The pty moves bytes to the slave's queue from a kernel work item, so
    // they become visible a little after the master's write returns.
    const auto end = std::chrono::steady_clock::now() + limit;
    while (queuedForSlave() < count) {
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void RawPty::sendLater(std::vector<std::uint8_t> bytes, std::chrono::milliseconds pause, std::size_t awaitRequest) {
    sendLater(std::vector<Piece>{{pause, std::move(bytes)}}, awaitRequest);
}

void RawPty::sendLater(std::vector<Piece> pieces, std::size_t awaitRequest) {
    finishSending();
    farEnd_ = std::thread([this, pieces = std::move(pieces), awaitRequest] {
        if (awaitRequest > 0) collected_ = receive(awaitRequest);
        for (const Piece& piece : pieces) {
            if (piece.awaitRequest > 0) {
                const std::vector<std::uint8_t> more = receive(piece.awaitRequest);
                collected_.insert(collected_.end(), more.begin(), more.end());
            }
            std::this_thread::sleep_for(piece.pause);
            send(piece.bytes);
        }
    });
}

std::vector<std::uint8_t> RawPty::finishSending() {
    if (farEnd_.joinable()) farEnd_.join();
    std::vector<std::uint8_t> out;
    out.swap(collected_);
    return out;
}

void RawPty::closeMaster() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
}

std::vector<std::uint8_t> replyFrame(std::uint8_t status, const std::vector<std::uint8_t>& data) {
    static const Crc16Table crc;
    std::vector<std::uint8_t> f(data.size() + 5, 0);
    f[0] = 0xAD;
    f[1] = static_cast<std::uint8_t>(data.size());
    f[2] = status;
    std::copy(data.begin(), data.end(), f.begin() + 3);
    crc.appendCrc(f.data(), f.size() - 2);
    return f;
}
