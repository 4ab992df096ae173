#pragma once
// The synthesiser settings of a channel position: carrier frequency, crystal
// choice and the 16-byte channel block the station keeps at 0xC080 + 16 k.
// Plain IEEE double arithmetic, one rounding per operation, in the vendor's
// order: results at zone edges depend on it.

#include <cstdint>

#include "StationSettings.h"

double outputFrequency(const StationSettings& settings, int k);
double channelFrequency(const StationSettings& settings, int k);   // without the fine offset
int selectCrystal(const StationSettings& settings, int k, int range, std::uint8_t version);
double crystalFrequency(int choice);

// Fills block (16 bytes) and returns 16; returns 0 and leaves the block
// untouched when k >= ch_count, and for positions 6 and 7, which have a
// channel word but no fine offset in the parameter block. Writes "XTAL: "
// and "Fout: " to the trace.
int computeChannelBlock(const StationSettings& settings, int k, std::uint8_t version, std::uint8_t* block);
