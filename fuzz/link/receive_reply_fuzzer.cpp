// Fuzzes every path of the link that parses what the station sends.
//
// Input layout: byte 0 selects the operation (bits 0-2: read piece size, 0 =
// whole; bits 3-5: operation; bits 6-7: destination size); the rest is the
// line as the station would send it. Every destination is an exact-size heap
// block, so a byte written past it is caught by the address sanitizer.

#include <cstdint>
#include <cstring>
#include <memory>

#include "FakeLine.h"
#include "RLComPort.h"
#include "SerialPort.h"

namespace {

constexpr int kCapacities[4] = {255, 16, 2, 0};

void run(RLComPort& link, int operation, int capacity) {
    switch (operation) {
    case 0: {
        std::unique_ptr<std::uint8_t[]> dest(new std::uint8_t[capacity > 0 ? capacity : 1]);
        const int len = link.receiveReply(capacity > 0 ? dest.get() : nullptr, capacity);
        if (len < 0 || len > capacity) __builtin_trap();
        break;
    }
    case 1:
    case 2: {
        // Reads that must never report bytes that did not arrive.
        const int count = operation == 1 ? 16 : 2;
        std::unique_ptr<std::uint8_t[]> dest(new std::uint8_t[count]);
        link.readMemory(0xC000, operation == 1 ? MemoryKind::Rom16 : MemoryKind::Ram16, count, dest.get());
        break;
    }
    case 3: {
        std::unique_ptr<std::uint8_t[]> dest(new std::uint8_t[20]);
        std::uint16_t cursor = static_cast<std::uint16_t>(capacity == 0 ? 0xFFFF : 255);
        const int got = link.readRecord20(cursor, dest.get());
        if (got != 0 && got != 20) __builtin_trap();
        break;
    }
    case 4: {
        std::unique_ptr<std::uint8_t[]> dest(new std::uint8_t[32]);
        std::uint16_t cursor = static_cast<std::uint16_t>(capacity == 0 ? 0xFFFF : 3);
        const int got = link.readRecord32(cursor, dest.get());
        if (got != 0 && got != 32) __builtin_trap();
        break;
    }
    case 5: {
        std::unique_ptr<std::uint8_t[]> dest(new std::uint8_t[255]);
        link.query07(dest.get());
        break;
    }
    case 6:
        link.commandF2();
        break;
    default: {
        std::uint8_t data[4] = {0x3A, 1, 2, 3};
        link.writeMemory(0xC004, MemoryKind::Rom16, 1 + capacity % 4, data);
        break;
    }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const int piece = data[0] & 0x07;
    const int operation = (data[0] >> 3) & 0x07;
    const int capacity = kCapacities[(data[0] >> 6) & 0x03];
    fake_line::load(data + 1, size - 1, piece);

    SerialPort port;
    port.open(L"fuzz", 57600);
    RLComPort link;
    link.setPort(&port);
    try {
        run(link, operation, capacity);
    } catch (int code) {
        if (code != link_codes::kNoReply && code != link_codes::kRefused) __builtin_trap();
    }
    return 0;
}
