// SerialPort without a device: reads come from the fuzz input, writes are
// taken and forgotten. Nothing here touches the operating system.
#include <algorithm>
#include <cstring>

#include "FakeLine.h"
#include "SerialPort.h"

struct SerialPort::Handle {};

namespace {
const std::uint8_t* g_bytes = nullptr;
std::size_t g_size = 0;
std::size_t g_pos = 0;
int g_piece = 0;
}  // namespace

void fake_line::load(const std::uint8_t* bytes, std::size_t size, int piece) {
    g_bytes = bytes;
    g_size = size;
    g_pos = 0;
    g_piece = piece;
}

SerialPort::SerialPort() = default;
SerialPort::~SerialPort() { close(); }

bool SerialPort::open(const std::wstring&, std::uint16_t) {
    close();
    handle_ = new Handle;
    return true;
}

bool SerialPort::setReadTimeout(std::uint32_t constantMs) {
    readTimeoutConstantMs_ = constantMs;
    return handle_ != nullptr;
}

int SerialPort::read(std::uint8_t* dest, int count) {
    if (!handle_) return -1;
    if (count <= 0) return 0;
    std::size_t n = std::min(static_cast<std::size_t>(count), g_size - g_pos);
    if (g_piece > 0) n = std::min(n, static_cast<std::size_t>(g_piece));
    if (n > 0) std::memcpy(dest, g_bytes + g_pos, n);
    g_pos += n;
    return static_cast<int>(n);
}

bool SerialPort::write(const std::uint8_t* src, int count) {
    if (!handle_ || count < 0) return false;
    // Touch every byte so that the sanitizers see a request built past its buffer.
    volatile std::uint8_t sink = 0;
    for (int i = 0; i < count; ++i) sink = static_cast<std::uint8_t>(sink ^ src[i]);
    return true;
}

bool SerialPort::close() {
    if (!handle_) return false;
    delete handle_;
    handle_ = nullptr;
    return true;
}

bool SerialPort::isOpen() const { return handle_ != nullptr; }
