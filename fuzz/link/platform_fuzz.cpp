// Instant sleep and a fixed clock: the echo pause would slow the fuzzer down
// by orders of magnitude.
#include "Platform.h"

namespace link_platform {
void sleepMs(std::uint32_t) {}
LocalTime localTime() { return LocalTime{2024, 5, 17, 12, 30, 45}; }
}  // namespace link_platform
