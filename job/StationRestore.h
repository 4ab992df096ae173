#pragma once
#include <cstdint>

class StationConnection;

// Writes back, from a saved 256-byte parameter block, the regions the job
// changes (channel table, channel block 0, system code, in that order) with
// the job's retries, lets the station store them as the job does, then
// restarts it. Throws the link's int codes, and kCodeRestartNotSent when the
// restart command could not be put on the line.
void restoreStation(StationConnection& connection, const std::uint8_t* block256);

// Reads the whole 256-byte parameter block as the job does (eight reads of
// 32 bytes, two attempts each). Throws the link's int codes.
void readWholeBlock(StationConnection& connection, std::uint8_t* block256);
