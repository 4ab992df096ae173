#pragma once
// The values the serial backends give the driver, computed once from the
// station's needs so that they can be checked on every platform: the Win32
// backend copies them into its COMMTIMEOUTS and DCB, the POSIX backend times
// its writes with the same bound.

#include <cstdint>

#include "LineFacts.h"

namespace serial_line {

// The five fields of Win32's COMMTIMEOUTS, in its order.
struct CommTimeoutValues {
    std::uint32_t readInterval;
    std::uint32_t readTotalMultiplier;
    std::uint32_t readTotalConstant;
    std::uint32_t writeTotalMultiplier;
    std::uint32_t writeTotalConstant;
};

// The time-outs of a port whose reads wait `readConstantMs` plus the per-byte
// part. No field is 0 where 0 would mean "wait forever".
CommTimeoutValues commTimeouts(std::uint32_t readConstantMs);

// The DCB fields the backend sets; every other field keeps what the driver
// reported. 8N1, binary, no flow control of any kind, DTR off, RTS on.
struct LineControlValues {
    std::uint32_t baudRate;
    std::uint8_t byteSize;
    std::uint8_t parity;        // NOPARITY
    std::uint8_t stopBits;      // ONESTOPBIT
    bool outxCtsFlow, outxDsrFlow, dsrSensitivity, outX, inX;
    bool txContinueOnXoff;
    bool dtrOn;                 // DTR_CONTROL_ENABLE when true, else DTR_CONTROL_DISABLE
    bool rtsOn;                 // RTS_CONTROL_ENABLE when true, else RTS_CONTROL_DISABLE
    // Set even with XON/XOFF off: some drivers refuse a DCB whose two
    // characters are equal (both 0 as a driver may report them).
    char xonChar;
    char xoffChar;
};

LineControlValues lineControl(std::uint32_t rate);

}  // namespace serial_line
