#pragma once
// Reading back what was just written to the parameter block: a station that
// acknowledges a write is not always a station that kept it.
#include <QStringList>
#include <cstdint>

class StationConnection;

// Reads `count` bytes at `address` (two attempts) and appends to *mismatches
// one line per byte that differs from `written`: "read back 0xC00C: F4
// instead of 6E". Throws the link's int codes when the read fails, and -1 for
// a count outside 1..16 (one read of the block's regions).
void readBackRegion(StationConnection& connection, std::uint16_t address, int count, const std::uint8_t* written,
                    QStringList* mismatches);

// `value` as `width` upper-case hex digits, as the trace and the read-back
// lines show bytes and addresses.
QString hexDigits(unsigned value, int width);
