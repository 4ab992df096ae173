#pragma once
// The memory of a simulated station: the ROM parameter space and the RAM
// that the diagnostics read. Plain data; the host guards it with its lock.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "StationMemory.h"

namespace sim {

constexpr std::uint32_t kRomSize = 0x10000;
constexpr std::uint32_t kRamSize = 0x21000;   // route table ends before 0x21000

struct StationModel {
    std::vector<std::uint8_t> rom = std::vector<std::uint8_t>(kRomSize, 0);
    std::vector<std::uint8_t> ram = std::vector<std::uint8_t>(kRamSize, 0);
    int restarts = 0;

    // What the control commands leave behind, for assertions.
    std::array<std::uint8_t, 6> clock{};      // last 0x0E arguments
    bool clockSet = false;
    std::vector<std::uint8_t> lastData;       // last 0x20 payload
    int recordCount = 256;                    // positions 0..recordCount-1 hold records
    std::uint16_t recordCursor = 0;           // where the record readers start

    std::uint8_t* paramBlock() { return rom.data() + kParamBlockAddress; }   // 256 bytes

    // Little-endian helpers.
    void setRom16(std::uint32_t address, std::uint16_t value);
    std::uint16_t rom16(std::uint32_t address) const;
    void setRam16(std::uint32_t address, std::uint16_t value);
    std::uint16_t ram16(std::uint32_t address) const;

    // Diagnostics content.
    void setRouteRow(int node, int quality, std::uint8_t signal);   // byte 14 bits 4-5, byte 15
    struct SnifferPacket {
        std::uint8_t seq = 0;
        std::uint8_t network = 0;
        std::uint16_t src = 0;
        std::uint16_t dst = 0;
        std::uint8_t signal = 0;
        std::uint8_t lengthCode = 0;   // low nibble of byte 7
        std::uint8_t type = 0;         // high nibble of byte 7
    };
    // Writes the packet into ring slot (seq & 3) at 0x0CA6 + 2.
    void pushSnifferPacket(const SnifferPacket& packet);
};

struct DefaultStationOptions {
    std::uint8_t system = 0x9E;       // the system a move starts from
    std::uint8_t rangeCode = 1;       // ROM 0xC007
    std::uint8_t version = 0x81;      // RAM 0x0B00
    std::uint8_t bandType = 4;        // RAM 0x0B01
    std::uint8_t channelCount = 2;    // ROM 0xC008
    std::uint16_t channel0 = 500;     // words 1..7 follow as channel0 + 1 ..
    std::uint16_t address = 0x0123;
    std::uint8_t fineOffset = 0;      // byte 15 of every channel block (6.25 kHz steps)
    // Its place in the mesh, as the status read finds it in RAM.
    bool attached = true;             // bit 4 of 0x00B7
    std::uint16_t parent = 0x0045;    // 0x0274
    int link = 3;                     // quality in the parent's route-table row
    int signal = -80;                 // dB; the level byte at 0x0B04 reads so
};

// A station ready to be moved: system 0x9E, range 1, version 0x81, band 4,
// two channel positions, channel 0 at 500 and words 1..7 at 501..507.
StationModel makeDefaultStation(const DefaultStationOptions& options = {});

// The station's memory (ROM, RAM, restart count) in a binary file, so a
// simulated station keeps what was written to it from one run to the next.
// Saving goes through a temporary file and a rename; loading leaves `model`
// untouched unless the whole file is valid.
bool saveStationState(const StationModel& model, const std::string& path);
bool loadStationState(StationModel& model, const std::string& path);

}  // namespace sim
