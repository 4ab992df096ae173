#pragma once
// One fixed conversation with a station, run over the Win32 transport under
// Wine and over the POSIX transport natively, so that the frames the
// simulated station records on both can be compared byte for byte.

#include <cstdint>
#include <vector>

class StationConnection;

namespace win32_check {

// The frames of the first exchanges of every run, as they must be on the wire.
const std::vector<std::uint8_t>& headRequest();      // read 16 bytes of ROM at 0xC000
const std::vector<std::uint8_t>& versionRequest();   // read 2 bytes of RAM at 0x0B00
const std::vector<std::uint8_t>& restartRequest();

// Reads the head of the parameter block, identifies the station and writes
// the channel table, a channel block and the system code, as a programming
// run does. Throws the connection's int codes.
void programStation(StationConnection& connection);

}  // namespace win32_check
