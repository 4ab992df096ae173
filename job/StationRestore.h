#pragma once
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <vector>

#include "ChangeWrites.h"

class StationConnection;

// Writes back, from a saved 256-byte parameter block, the regions the job
// changes, exactly as the job writes them (writeChanges with the read-back
// on): the channel table and channel block 0, read back; only when both read
// back right the system code, read back, then the settle and the restart.
// Throws as writeChanges does; *result tells the differences, whether the
// station was left partly written and whether the system code's
// acknowledgement was lost (and the write took).
void restoreStation(StationConnection& connection, const std::uint8_t* block256, ChangeWritesResult* result);

// What a caller does around each read of the block: before it (it may throw
// an int code to stop the read), and after it with the bytes it brought.
struct BlockReadSteps {
    std::function<void()> beforeChunk;
    std::function<void(std::uint32_t address, const std::uint8_t* chunk, std::uint16_t count)> afterChunk;
};

// Reads the whole 256-byte parameter block, the one way the job and restore
// read it: eight reads of 32 bytes, two attempts each. Throws the link's int
// codes.
void readWholeBlock(StationConnection& connection, std::uint8_t* block256, const BlockReadSteps& steps = {});

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

// The station's setup (the bytes untouchedDifferences compares) as a short
// fingerprint: 8 lower-case hex digits of its SHA-1. It stays the same across
// moves and restores and tells apart stations that share an address, as the
// originals kept for an address do.
constexpr int kSetupFingerprintDigits = 8;
QString setupFingerprint(const std::uint8_t* block256);
