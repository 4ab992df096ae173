#pragma once
// Before the job changes a station it keeps the whole parameter block it has
// just read, so an operator can put a station back (rechannel-cli restore).

#include <QDateTime>
#include <QString>
#include <cstdint>

constexpr int kParamBlockSize = 256;

// The station's network address, little-endian at offset 2 of the block (and
// of its 16-byte head).
inline std::uint16_t blockAddress(const std::uint8_t* block) {
    return static_cast<std::uint16_t>(block[2] | (block[3] << 8));
}

// "<log dir>/backups/<yyMMdd-hhmmss>_<address>_<system>.bin"; a later backup
// of the same station in the same second gets "-2", "-3", ... before ".bin".
QString backupFilePath(const QDateTime& when, std::uint16_t address, std::uint8_t system);

// Writes the 256 bytes; returns the path written, or an empty string when
// the file could not be written completely.
QString saveStationBackup(const std::uint8_t* block256, const QDateTime& when);
