#include "StationModel.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "StationPlace.h"
#include "StationRam.h"

namespace sim {

namespace {

bool inside(const std::vector<std::uint8_t>& space, std::uint32_t address, std::uint32_t count) {
    return address <= space.size() && count <= space.size() - address;
}

void put16(std::vector<std::uint8_t>& space, std::uint32_t address, std::uint16_t value) {
    if (!inside(space, address, 2)) return;
    space[address] = static_cast<std::uint8_t>(value & 0xFF);
    space[address + 1] = static_cast<std::uint8_t>(value >> 8);
}

constexpr std::uint32_t kRouteTable = 0x1000;
constexpr int kRouteRows = 8192;
constexpr std::uint32_t kSnifferRing = 0x0CA6;

// State file: magic, the two sizes, the restart count, then ROM and RAM.
constexpr char kStateMagic[8] = {'R', 'C', 'S', 'T', 'A', 'T', 'E', '1'};

void putU32(std::uint8_t* out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::uint32_t getU32(const std::uint8_t* in) {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(in[i]) << (8 * i);
    return v;
}

}  // namespace

void StationModel::setRom16(std::uint32_t address, std::uint16_t value) { put16(rom, address, value); }

std::uint16_t StationModel::rom16(std::uint32_t address) const {
    if (!inside(rom, address, 2)) return 0;
    return static_cast<std::uint16_t>(rom[address] | (rom[address + 1] << 8));
}

void StationModel::setRam16(std::uint32_t address, std::uint16_t value) { put16(ram, address, value); }

std::uint16_t StationModel::ram16(std::uint32_t address) const {
    if (!inside(ram, address, 2)) return 0;
    return static_cast<std::uint16_t>(ram[address] | (ram[address + 1] << 8));
}

void StationModel::setRouteRow(int node, int quality, std::uint8_t signal) {
    if (node < 0 || node >= kRouteRows) return;
    const std::uint32_t row = kRouteTable + 16u * static_cast<std::uint32_t>(node);
    if (!inside(ram, row, 16)) return;
    ram[row + 14] = static_cast<std::uint8_t>((ram[row + 14] & ~0x30) | ((quality & 0x03) << 4));
    ram[row + 15] = signal;
}

void StationModel::pushSnifferPacket(const SnifferPacket& packet) {
    const std::uint32_t slot = kSnifferRing + 2 + 8u * (packet.seq & 3u);
    if (!inside(ram, slot, 8)) return;
    ram[slot] = packet.seq;
    ram[slot + 1] = packet.network;
    ram[slot + 2] = static_cast<std::uint8_t>(packet.src & 0xFF);
    ram[slot + 3] = static_cast<std::uint8_t>(packet.src >> 8);
    ram[slot + 4] = static_cast<std::uint8_t>(packet.dst & 0xFF);
    ram[slot + 5] = static_cast<std::uint8_t>(packet.dst >> 8);
    ram[slot + 6] = packet.signal;
    ram[slot + 7] = static_cast<std::uint8_t>(((packet.type & 0x0F) << 4) | (packet.lengthCode & 0x0F));
}

namespace {

// The parameter block: its head, the channel table and the synthesiser
// blocks of the six positions.
void fillParamBlock(StationModel& m, const DefaultStationOptions& o) {
    // Parameter block head.
    std::uint8_t* params = m.paramBlock();
    m.setRom16(paramAddress(kVersionOffset), 0x0201);   // firmware/parameter version word
    m.setRom16(paramAddress(kAddressOffset), o.address);
    params[kSystemCodeOffset] = o.system;
    params[kDeviceOffset] = 0x01;         // device kind
    params[kCpsOffset] = 0x02;
    params[kRangeCodeOffset] = o.rangeCode;
    params[kChannelCountOffset] = o.channelCount;
    params[kTimeoutsOffset] = 0x0A;
    // Channel table: position 0 is the working channel, the rest follow it.
    for (int k = 0; k < kChannelTableWords; ++k)
        m.setRom16(paramAddress(kChannelTableOffset + 2 * k), static_cast<std::uint16_t>(o.channel0 + k));
    // Synthesiser blocks of the six positions; the last byte is the fine offset.
    for (int k = 0; k < kFineOffsetPositions; ++k) {
        std::uint8_t* block = m.rom.data() + channelBlockAddress(k);
        const std::uint16_t channel = m.rom16(paramAddress(kChannelTableOffset + 2 * k));
        block[0] = 0x40;
        block[1] = static_cast<std::uint8_t>(channel & 0xFF);
        block[2] = static_cast<std::uint8_t>(channel >> 8);
        block[3] = 0x1C;
        block[4] = 0x05;
        block[5] = 0x80;
        block[6] = static_cast<std::uint8_t>(0x10 + k);
        for (int i = 7; i < 15; ++i) block[i] = static_cast<std::uint8_t>(0x11 * (i - 6));
        block[kFineOffsetInBlock] = o.fineOffset;
    }
}

// What identification and the diagnostics read in RAM.
void fillRam(StationModel& m, const DefaultStationOptions& o) {
    // Identification.
    m.ram[station_ram::kVersion] = o.version;
    m.ram[station_ram::kBandType] = o.bandType;
    // Signal level at 0x0B02 + 2: by default raw 100, read as (100 >> 1) - 130 = -80.
    m.ram[0x0B02] = 0x10;
    m.ram[0x0B03] = 0x00;
    m.ram[0x0B04] = station_place::levelForSignal(o.signal);
    m.ram[0x0B05] = 0x00;
    // Network status: status byte, attached flag (bit 4), parent node.
    m.ram[0x0862] = 0x03;
    m.ram[0x00B7] = o.attached ? 0x10 : 0x00;
    const std::uint16_t parent = o.parent;
    m.setRam16(0x0274, parent);
    m.setRouteRow(0x0012, 2, 28);
    m.setRouteRow(0x0100, 1, 15);
    m.setRouteRow(8191, 2, 200);
    m.setRouteRow(parent, o.link, 40);
    // The last four packets heard: two from the parent, one foreign.
    const std::uint16_t self = o.address;
    m.pushSnifferPacket({0, o.system, parent, self, 40, 0x3, 0x3});      // HELLO
    m.pushSnifferPacket({1, o.system, 0x0012, self, 28, 0xB, 0x5});      // DATA, 16 bytes
    m.pushSnifferPacket({2, 0x3A, 0x0200, 0x0201, 33, 0x1, 0x4});        // another network
    m.pushSnifferPacket({3, o.system, parent, 0xFFFF, 41, 0x0, 0x3});
}

}  // namespace

StationModel makeDefaultStation(const DefaultStationOptions& o) {
    StationModel m;
    fillParamBlock(m, o);
    fillRam(m, o);
    return m;
}

bool saveStationState(const StationModel& model, const std::string& path) {
    std::uint8_t head[8 + 12];
    std::memcpy(head, kStateMagic, 8);
    putU32(head + 8, static_cast<std::uint32_t>(model.rom.size()));
    putU32(head + 12, static_cast<std::uint32_t>(model.ram.size()));
    putU32(head + 16, static_cast<std::uint32_t>(model.restarts));
    // Write beside the target and rename, so a crash never leaves half a file.
    const std::string temp = path + ".tmp";
    std::FILE* f = std::fopen(temp.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(head, 1, sizeof head, f) == sizeof head &&
              std::fwrite(model.rom.data(), 1, model.rom.size(), f) == model.rom.size() &&
              std::fwrite(model.ram.data(), 1, model.ram.size(), f) == model.ram.size();
    ok = (std::fclose(f) == 0) && ok;
    if (!ok || std::rename(temp.c_str(), path.c_str()) != 0) {
        std::remove(temp.c_str());
        return false;
    }
    return true;
}

bool loadStationState(StationModel& model, const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    std::uint8_t head[8 + 12];
    StationModel loaded;
    bool ok = std::fread(head, 1, sizeof head, f) == sizeof head &&
              std::memcmp(head, kStateMagic, 8) == 0 && getU32(head + 8) == kRomSize &&
              getU32(head + 12) == kRamSize && getU32(head + 16) <= 0x7FFFFFFFu;
    if (ok) {
        loaded.restarts = static_cast<int>(getU32(head + 16));
        ok = std::fread(loaded.rom.data(), 1, kRomSize, f) == kRomSize &&
             std::fread(loaded.ram.data(), 1, kRamSize, f) == kRamSize;
        std::uint8_t extra;
        ok = ok && std::fread(&extra, 1, 1, f) == 0;   // nothing may follow
    }
    std::fclose(f);
    if (ok) model = std::move(loaded);
    return ok;
}

}  // namespace sim
