#pragma once
// CRC-16 of the station's frames: polynomial 0x1021, initial 0, no
// reflection, no final XOR (CRC-16/XMODEM), sent high byte first.

#include <array>
#include <cstddef>
#include <cstdint>

class Crc16Table {
public:
    explicit Crc16Table(std::uint32_t polynomial = 0x11021);

    // Writes the CRC of frame[0..length) at frame[length] (high byte) and
    // frame[length + 1] (low byte). The caller guarantees the room.
    void appendCrc(std::uint8_t* frame, std::size_t length) const;

    // True when the frame, its two trailing CRC bytes included, is intact.
    bool checkCrc(const std::uint8_t* frame, std::size_t length) const;

    std::uint16_t entry(std::uint8_t index) const;

private:
    std::uint16_t run(const std::uint8_t* bytes, std::size_t length) const;
    std::array<std::uint8_t, 512> table_{};   // 256 entries, high byte first
};
