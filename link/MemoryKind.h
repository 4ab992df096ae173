#pragma once
#include <cstdint>

// Bit 0: 24-bit address (long command form); bit 2: ROM space.
enum class MemoryKind : std::uint8_t { Ram16 = 0, Ram24 = 1, Rom16 = 4, Rom24 = 5 };
