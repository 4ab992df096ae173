#include "Crc16Table.h"

Crc16Table::Crc16Table(std::uint32_t polynomial) {
    // A 16-bit generator always has its x^16 term; without it (0x1021 for
    // 0x11021) the reduction below would never clear the high bits.
    polynomial = (polynomial & 0xFFFFu) | 0x10000u;
    // Most-significant-bit-first table: reduce i * 2^16 by the generator
    // until the bits above the low 16 are clear.
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t v = i << 16;
        while ((v >> 16) & 0xFFu) {
            int n = 7;
            while (!((v >> (16 + n)) & 1u)) --n;
            v ^= polynomial << n;
        }
        table_[2 * i] = static_cast<std::uint8_t>((v >> 8) & 0xFFu);
        table_[2 * i + 1] = static_cast<std::uint8_t>(v & 0xFFu);
    }
}

std::uint16_t Crc16Table::entry(std::uint8_t index) const {
    return static_cast<std::uint16_t>((table_[2 * index] << 8) | table_[2 * index + 1]);
}

std::uint16_t Crc16Table::run(const std::uint8_t* bytes, std::size_t length) const {
    std::uint16_t r = 0;
    auto feed = [&](std::uint8_t b) {
        const std::uint8_t top = static_cast<std::uint8_t>(r >> 8);
        r = static_cast<std::uint16_t>(((r << 8) | b) ^ entry(top));
    };
    for (std::size_t i = 0; i < length; ++i) feed(bytes[i]);
    // Two zero bytes push the message through the whole register.
    feed(0);
    feed(0);
    return r;
}

void Crc16Table::appendCrc(std::uint8_t* frame, std::size_t length) const {
    const std::uint16_t r = run(frame, length);
    frame[length] = static_cast<std::uint8_t>(r >> 8);
    frame[length + 1] = static_cast<std::uint8_t>(r & 0xFFu);
}

bool Crc16Table::checkCrc(const std::uint8_t* frame, std::size_t length) const {
    return run(frame, length) == 0;
}
