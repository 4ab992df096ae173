#pragma once
// Before anything changes a station its whole parameter block is kept, so an
// operator can put the station back (rechannel-cli restore).

#include <QDateTime>
#include <QString>
#include <cstdint>

#include "StationMemory.h"

// "<log dir>/backups/<yyMMdd-hhmmss>_<address>_<system>.bin"; a later backup
// of the same station in the same second gets "-2", "-3", ... before ".bin".
QString backupFilePath(const QDateTime& when, std::uint16_t address, std::uint8_t system);

// "<log dir>/backups/originals/<address>.bin": the block as it was before the
// station was ever moved. Another station with the same address gets
// "<address>-2.bin", "-3", ... .
QString originalBackupPath(std::uint16_t address);

// The original kept for the station whose present block is block256 (the
// same address, the same setup outside the regions a move rewrites), or an
// empty string; *othersKept counts the originals of other stations with
// that address.
QString originalBackupFor(const std::uint8_t* block256, int* othersKept = nullptr);

// True for a block that has not been touched by a move yet: system 0x9E and
// channel 0 not the target channel. A block half-written by an interrupted
// move (channel table already at the target) is no original.
bool isUnmovedBlock(const std::uint8_t* block256);

// Writes the 256 bytes to a file of its own, created exclusively so that
// parallel runs never overwrite one another. Returns the path written, or an
// empty string (and the reason in *error) when the file could not be written
// completely. The first backup of an unmoved block is also kept as the
// station's original, which is never replaced; when that copy cannot be
// made, *originalError says why (the backup itself is saved all the same)
// and is empty otherwise.
QString saveStationBackup(const std::uint8_t* block256, const QDateTime& when, QString* error = nullptr,
                          QString* originalError = nullptr);
