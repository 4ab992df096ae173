#include "Trace.h"

#include <iostream>

#include "ReadBack.h"

namespace {
std::ostream* redirected = nullptr;

void writeByte(std::ostream& out, std::uint8_t byte) { out << hexDigits(byte, 2).toStdString(); }
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
        if (i % 16 == 0) out << hexDigits(address, 8).toStdString() << ": ";
        writeByte(out, bytes[i]);
        out << ' ';
        if ((i + 1) % 16 == 0) {
            out << std::endl;
            address += 16;
        }
    }
    if (count % 16 != 0) out << std::endl;
}
