// SerialPort over a POSIX terminal device (a USB serial adapter, or the slave
// side of a pseudo-terminal when a simulated station answers).
//
// The station's read timing (a 2 ms inter-byte gap and a total time-out of
// constant + 100 ms per byte) is finer than termios VTIME can express, so the
// descriptor is non-blocking and every read is timed with poll() against the
// monotonic clock.

#include "Deadline.h"
#include "LineFacts.h"
#include "SerialPort.h"
#include "SerialLineSettings.h"
#include "Utf8.h"

#include <cerrno>
#include <chrono>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

struct SerialPort::Handle {
    int fd = -1;
};

namespace {


constexpr int kInterByteGapMs = static_cast<int>(line::kInterByteGapMs);
constexpr int kReadMsPerByte = static_cast<int>(line::kReadMsPerByte);

bool speedFor(std::uint16_t rate, speed_t& speed) {
    switch (rate) {
    case 300: speed = B300; return true;
    case 600: speed = B600; return true;
    case 1200: speed = B1200; return true;
    case 2400: speed = B2400; return true;
    case 4800: speed = B4800; return true;
    case 9600: speed = B9600; return true;
    case 19200: speed = B19200; return true;
    case 38400: speed = B38400; return true;
    case 57600: speed = B57600; return true;
    default: return false;
    }
}

// Device paths reach us as wide strings; the file system wants UTF-8 bytes.
// False for a path the kernel could not take (an embedded NUL, a stray
// surrogate or a code point beyond Unicode).
bool narrowPath(const std::wstring& wide, std::string& out) {
    out.clear();
    for (std::size_t i = 0; i < wide.size(); ++i) {
        std::uint32_t cp = static_cast<std::uint32_t>(wide[i]);
        if (sizeof(wchar_t) == 2 && cp >= 0xD800 && cp <= 0xDBFF && i + 1 < wide.size()) {
            const std::uint32_t low = static_cast<std::uint32_t>(wide[i + 1]);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        if (cp == 0 || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) return false;
        utf8::append(out, cp);
    }
    return !out.empty();
}

// Some devices (a pseudo-terminal among them) have no modem lines and answer
// the modem-control ioctls with ENOTTY or EINVAL; that is not a failure.
bool setModemLine(int fd, unsigned long request, int line) {
    if (ioctl(fd, request, &line) == 0) return true;
    return errno == ENOTTY || errno == EINVAL;
}

bool configureLine(int fd, std::uint16_t rate) {
    speed_t speed;
    if (!speedFor(rate, speed)) return false;

    termios tio{};
    if (tcgetattr(fd, &tio) != 0) return false;
    cfmakeraw(&tio);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    // With VMIN 0 a terminal read answers 0 for "nothing yet", which looks
    // like end of file; with VMIN 1 on a non-blocking descriptor it answers
    // EAGAIN instead, and 0 means the line hung up. The timing is ours.
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (cfsetispeed(&tio, speed) != 0 || cfsetospeed(&tio, speed) != 0) return false;
    if (tcsetattr(fd, TCSANOW, &tio) != 0) return false;

    // The station's adapter wants DTR off and RTS on.
    return setModemLine(fd, TIOCMBIC, TIOCM_DTR) && setModemLine(fd, TIOCMBIS, TIOCM_RTS);
}

void releaseFd(int fd) {
    ioctl(fd, TIOCNXCL);    // exclusivity would otherwise outlive us on a pty
    flock(fd, LOCK_UN);
    ::close(fd);
}

}  // namespace

SerialPort::Handle* SerialPort::openHandle(const std::wstring& devicePath, std::uint16_t rate) {
    std::string path;
    if (!narrowPath(devicePath, path)) return nullptr;

    int fd;
    do {
        fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return nullptr;

    // Exclusive use: the advisory lock holds against every program that asks
    // for it, root included; TIOCEXCL refuses every further open by others.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return nullptr;
    }
    if (ioctl(fd, TIOCEXCL) != 0 || !configureLine(fd, rate) || tcflush(fd, TCIOFLUSH) != 0) {
        releaseFd(fd);
        return nullptr;
    }
    return new Handle{fd};
}

// Every read is timed here, against the constant it is given.
bool SerialPort::applyReadTimeout(Handle&, std::uint32_t) { return true; }

int SerialPort::readBytes(Handle& handle, std::uint8_t* dest, int count, std::uint32_t constantMs, bool& failed) {
    const int fd = handle.fd;
    const Deadline deadline(std::chrono::milliseconds(constantMs) +
                            std::chrono::milliseconds(static_cast<long long>(kReadMsPerByte) * count));
    int got = 0;
    while (got < count) {
        const ssize_t n = ::read(fd, dest + got, static_cast<std::size_t>(count - got));
        if (n > 0) {
            got += static_cast<int>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
            // End of file is a hang-up (CLOCAL is set, so no modem line
            // causes it); EIO, ENXIO, ENODEV: the device is gone. Either way
            // the port is lost: end with what we have.
            failed = true;
            break;
        }

        // Nothing waiting: wait for the next byte, for at most the inter-byte
        // gap once a byte has arrived, and never beyond the total time-out.
        const int total = deadline.remainingMs();
        if (total == 0) break;
        const int wait = got > 0 ? (total < kInterByteGapMs ? total : kInterByteGapMs) : total;
        pollfd p{fd, POLLIN, 0};
        const int r = ::poll(&p, 1, wait);
        if (r < 0) {
            if (errno == EINTR) continue;
            failed = true;
            break;
        }
        if (r == 0) {
            if (got > 0) break;   // the burst has ended
            continue;             // the loop re-checks the total time-out
        }
        if ((p.revents & POLLIN) == 0) {
            failed = true;   // POLLHUP, POLLERR or POLLNVAL without data: never spin
            break;
        }
    }
    return got;
}

bool SerialPort::writeBytes(Handle& handle, const std::uint8_t* src, int count, int& written, bool& failed) {
    const int fd = handle.fd;

    // Every request starts on an empty line: stale input from an earlier
    // exchange must never be taken for the next reply.
    int inQueue = 0;
    int outQueue = 0;
    if (ioctl(fd, TIOCINQ, &inQueue) != 0 || ioctl(fd, TIOCOUTQ, &outQueue) != 0 || inQueue > 0 ||
        outQueue > 0) {
        tcflush(fd, TCIOFLUSH);
    }

    // Bounded as the Win32 driver's write time-outs are (SerialLineSettings.h).
    const Deadline deadline(
        std::chrono::milliseconds(line::kWriteConstantMs + std::int64_t{line::kWriteMsPerByte} * count));
    written = 0;
    while (written < count) {
        const ssize_t n = ::write(fd, src + written, static_cast<std::size_t>(count - written));
        if (n > 0) {
            written += static_cast<int>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n >= 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
            failed = true;   // EIO, ENXIO, ENODEV: the device is gone
            return false;
        }
        const int wait = deadline.remainingMs();
        if (wait == 0) return false;   // timed out: the line is stuck, not lost
        pollfd p{fd, POLLOUT, 0};
        const int r = ::poll(&p, 1, wait);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0 || (r > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL)) && !(p.revents & POLLOUT))) {
            failed = true;
            return false;
        }
    }
    return true;
}

void SerialPort::releaseHandle(Handle* handle) {
    releaseFd(handle->fd);
    delete handle;
}
