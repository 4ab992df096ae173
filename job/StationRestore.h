#pragma once
#include <cstdint>
#include <vector>

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

// The offsets (0..255, ascending) at which two parameter blocks differ
// outside the regions that a move and a restore rewrite (channel table,
// channel block 0, system code). Nothing else in the block changes on a
// station between its backup and a restore: this utility writes only those
// three regions, and the station keeps what is written to its parameter
// block across restarts and does not rewrite the block itself. The rest
// (version, address, device, range, channel count, timeouts, the other
// positions' channels and synthesiser blocks) is the station's own setup, so
// a difference there means the backup is of another station, or of this one
// before it was set up anew.
std::vector<int> untouchedDifferences(const std::uint8_t* backup256, const std::uint8_t* station256);
