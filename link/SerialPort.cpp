// What both serial backends share: the open/closed state, the read time-out,
// the argument checks and the wire observer. The system calls are in
// serial_port_<platform>.cpp.

#include "SerialPort.h"

SerialPort::SerialPort() = default;

SerialPort::~SerialPort() { close(); }

bool SerialPort::isOpen() const { return handle_ != nullptr; }

bool SerialPort::open(const std::wstring& devicePath, std::uint16_t rate) {
    close();
    if (devicePath.empty()) return false;
    lost_ = false;
    handle_ = openHandle(devicePath, rate);
    if (!handle_) return false;
    readTimeoutConstantMs_ = kDefaultReadTimeoutMs;
    return true;
}

bool SerialPort::setReadTimeout(std::uint32_t constantMs) {
    if (!handle_ || !applyReadTimeout(*handle_, constantMs)) return false;
    readTimeoutConstantMs_ = constantMs;
    return true;
}

int SerialPort::read(std::uint8_t* dest, int count) {
    if (!handle_) return -1;
    if (count <= 0 || lost_) return 0;
    bool failed = false;
    const int got = readBytes(*handle_, dest, count, readTimeoutConstantMs_, failed);
    lost_ = failed;
    if (observer_) {
        if (got > 0) observer_(WireDirection::Received, dest, got);
        if (got < count) observer_(WireDirection::Timeout, nullptr, count - got);
    }
    return got;
}

bool SerialPort::write(const std::uint8_t* src, int count) {
    if (!handle_ || count < 0 || lost_) return false;
    int written = 0;
    bool failed = false;
    const bool ok = writeBytes(*handle_, src, count, written, failed);
    lost_ = failed;
    if (observer_ && written > 0) observer_(WireDirection::Sent, src, written);
    return ok && written == count;
}

bool SerialPort::close() {
    if (!handle_) return false;
    releaseHandle(handle_);
    handle_ = nullptr;
    lost_ = false;
    return true;
}
