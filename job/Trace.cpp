#include "Trace.h"

#include <cstdio>
#include <iostream>

namespace {
std::ostream* redirected = nullptr;

void writeByte(std::ostream& out, std::uint8_t byte) {
    char text[3];
    std::snprintf(text, sizeof text, "%02X", static_cast<unsigned>(byte));
    out << text;
}
}  // namespace

std::ostream& traceStream() { return redirected ? *redirected : std::cout; }

void setTraceStream(std::ostream* stream) { redirected = stream; }

void dumpHex(const std::uint8_t* bytes, std::uint16_t count, char separator) {
    if (count == 0) return;
    std::ostream& out = traceStream();
    for (int i = 0; i < count; ++i) {
        writeByte(out, bytes[i]);
        out << separator;
        if ((i + 1) % 16 == 0) out << std::endl;
    }
    if (count % 16 != 0) out << std::endl;
}

void dumpHexWithAddress(const std::uint8_t* bytes, std::uint16_t count, std::uint32_t address) {
    if (count == 0) return;
    std::ostream& out = traceStream();
    for (int i = 0; i < count; ++i) {
        if (i % 16 == 0) {
            char column[16];
            std::snprintf(column, sizeof column, "%08X: ", static_cast<unsigned>(address));
            out << column;
        }
        writeByte(out, bytes[i]);
        out << ' ';
        if ((i + 1) % 16 == 0) {
            out << std::endl;
            address += 16;
        }
    }
    if (count % 16 != 0) out << std::endl;
}
