#pragma once
// The few operating-system services the link needs beside the port itself.
#include <cstdint>

namespace link_platform {
void sleepMs(std::uint32_t ms);

struct LocalTime {
    int year, month, day, hour, minute, second;   // month 1..12, day 1..31
};
LocalTime localTime();
}
