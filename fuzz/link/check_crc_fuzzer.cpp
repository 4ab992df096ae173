// checkCrc against a bit-by-bit CRC-16/XMODEM: the table engine must agree on
// every input, and every frame that appendCrc completes must check intact.

#include <cstdint>
#include <vector>

#include "Crc16Table.h"

namespace {

std::uint16_t bitwiseCrc(const std::uint8_t* data, std::size_t size) {
    std::uint16_t r = 0;
    for (std::size_t i = 0; i < size; ++i) {
        r = static_cast<std::uint16_t>(r ^ (data[i] << 8));
        for (int b = 0; b < 8; ++b)
            r = static_cast<std::uint16_t>((r & 0x8000) ? (r << 1) ^ 0x1021 : (r << 1));
    }
    return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const Crc16Table crc;

    // A received frame is intact exactly when the CRC over it, its own two
    // CRC bytes included, is zero.
    const bool intact = crc.checkCrc(data, size);
    if (intact != (bitwiseCrc(data, size) == 0)) __builtin_trap();

    std::vector<std::uint8_t> frame(data, data + size);
    frame.resize(size + 2);
    crc.appendCrc(frame.data(), size);
    const std::uint16_t expected = bitwiseCrc(data, size);
    if (frame[size] != (expected >> 8) || frame[size + 1] != (expected & 0xFF)) __builtin_trap();
    if (!crc.checkCrc(frame.data(), frame.size())) __builtin_trap();
    return 0;
}
