#pragma once
#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

class StationConnection;

// Writes back, from a saved 256-byte parameter block, the regions the job
// changes with the job's retries, and reads them back as the job does: the
// channel table and channel block 0 first, and only when both read back right
// the system code, then the settle and the restart. Throws the link's int
// codes; kCodeVerifyMismatch when a region read back differently (the lines
// in *mismatches name the bytes; nothing more is written, no restart);
// kCodeSystemCodeUnconfirmed when the system code's read-back got no answer
// (the station acknowledged it, so it was restarted all the same); and
// kCodeRestartNotSent when the restart command could not be put on the line
// (*mismatches then names the system code if its read-back got no answer).
void restoreStation(StationConnection& connection, const std::uint8_t* block256, QStringList* mismatches);

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

// The station's setup (the bytes untouchedDifferences compares) as a short
// fingerprint: 8 lower-case hex digits of its SHA-1. It stays the same across
// moves and restores and tells apart stations that share an address, as the
// originals kept for an address do.
constexpr int kSetupFingerprintDigits = 8;
QString setupFingerprint(const std::uint8_t* block256);
