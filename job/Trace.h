#pragma once
// The trace stream: labelled values and hex dumps of each programming run.
// Standard output unless a caller (a test, the CLI) redirects it.

#include <cstdint>
#include <ostream>

std::ostream& traceStream();
// Redirects the trace; nullptr restores standard output.
void setTraceStream(std::ostream* stream);

// Each byte as two upper-case hex digits followed by the separator; a line
// end after every 16th byte and after a last, partial line.
void dumpHex(const std::uint8_t* bytes, std::uint16_t count, char separator);
// Lines of 16 bytes, each led by "%08X: " of its first byte's address.
void dumpHexWithAddress(const std::uint8_t* bytes, std::uint16_t count, std::uint32_t address);
