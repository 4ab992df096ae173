#pragma once
// The line that the fake SerialPort plays: the fuzz input, handed out in
// pieces of at most `piece` bytes per read (0: as much as asked).
#include <cstddef>
#include <cstdint>

namespace fake_line {
void load(const std::uint8_t* bytes, std::size_t size, int piece);
}
