#include "StationSequence.h"

#include <array>

#include "StationConnection.h"

namespace win32_check {

const std::vector<std::uint8_t>& headRequest() {
    static const std::vector<std::uint8_t> frame{0xDA, 0x03, 0x05, 0xC0, 0x00, 0x10, 0x44, 0xE7};
    return frame;
}

const std::vector<std::uint8_t>& versionRequest() {
    static const std::vector<std::uint8_t> frame{0xDA, 0x03, 0x05, 0x0B, 0x00, 0x82, 0x31, 0x1A};
    return frame;
}

const std::vector<std::uint8_t>& restartRequest() {
    static const std::vector<std::uint8_t> frame{0xDA, 0x00, 0xDD, 0xB8, 0x85};
    return frame;
}

void programStation(StationConnection& connection) {
    std::array<std::uint8_t, 16> head{};
    connection.readRom16(0xC000, 16, head.data(), 2);
    connection.identifyStation();

    // Channel word 0 moves to 1902, the other seven stay; low byte first.
    std::array<std::uint8_t, 16> table{};
    const StationSettings& s = connection.settings();
    for (std::size_t i = 0; i < 8; ++i) {
        const std::uint16_t word = i == 0 ? 1902 : s.channel[i];
        table[2 * i] = static_cast<std::uint8_t>(word & 0xFF);
        table[2 * i + 1] = static_cast<std::uint8_t>(word >> 8);
    }
    connection.writeRom16(0xC00C, 16, table.data(), 2);

    // A block whose bytes include both start bytes, so that nothing on the
    // way may take data for a frame boundary.
    const std::array<std::uint8_t, 16> block{0x12, 0xDA, 0xAD, 0x00, 0xFF, 0x34, 0x56, 0x78,
                                             0x9A, 0xBC, 0xDE, 0xF0, 0x0D, 0x0A, 0x1A, 0x02};
    connection.writeRom16(0xC080, 16, block.data(), 2);

    const std::uint8_t system = 0x3A;
    connection.writeRom16(0xC004, 1, &system, 2);
}

}  // namespace win32_check
