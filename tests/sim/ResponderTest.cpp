#include <gtest/gtest.h>

#include "Responder.h"

using namespace sim;
using Bytes = std::vector<std::uint8_t>;

namespace {

Bytes slice(const std::vector<std::uint8_t>& v, std::size_t from, std::size_t n) {
    return Bytes(v.begin() + static_cast<std::ptrdiff_t>(from), v.begin() + static_cast<std::ptrdiff_t>(from + n));
}

std::uint8_t statusOf(const Response& r) {
    const Bytes b = r.allBytes();
    return b.size() >= 3 ? b[2] : 0xEE;
}

}  // namespace

TEST(Responder, FrameHelpersMatchTheWorkedFrames) {
    EXPECT_EQ(makeRequest(0x05, {0xC0, 0x00, 0x10}), (Bytes{0xDA, 0x03, 0x05, 0xC0, 0x00, 0x10, 0x44, 0xE7}));
    EXPECT_EQ(makeRequest(0xDD, {}), (Bytes{0xDA, 0x00, 0xDD, 0xB8, 0x85}));
    EXPECT_EQ(makeRequest(0x05, {0x0B, 0x00, 0x82}), (Bytes{0xDA, 0x03, 0x05, 0x0B, 0x00, 0x82, 0x31, 0x1A}));
    EXPECT_EQ(makeReply(0, {}), (Bytes{0xAD, 0x00, 0x00, 0xFF, 0xCD}));
    const std::uint8_t check[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(frameCrc(check, sizeof check), 0x31C3);
}

TEST(Responder, RomReadCarriesExactlyTheBytesAsked) {
    StationModel m = makeDefaultStation();
    const Response r = respond(Bytes{0xDA, 0x03, 0x05, 0xC0, 0x00, 0x10, 0x44, 0xE7}, m);
    ASSERT_EQ(r.segments.size(), 1u);
    const Bytes reply = r.allBytes();
    ASSERT_EQ(reply.size(), 16u + 5u);
    EXPECT_EQ(reply[0], 0xAD);
    EXPECT_EQ(reply[1], 16);
    EXPECT_EQ(reply[2], 0);
    EXPECT_EQ(slice(reply, 3, 16), slice(m.rom, 0xC000, 16));
    EXPECT_EQ(reply[3 + 4], 0x9E);   // system code sits at 0xC004
    EXPECT_EQ(makeReply(0, slice(m.rom, 0xC000, 16)), reply);
    EXPECT_FALSE(r.wroteMemory);
}

TEST(Responder, ReadsOfEveryKindAndSpace) {
    StationModel m = makeDefaultStation();
    // Ram16: version byte and band type.
    EXPECT_EQ(respond(makeRequest(0x05, {0x0B, 0x00, 0x82}), m).allBytes(), makeReply(0, {0x81, 0x04}));
    // Rom24 at 0x00C002, 32 bytes: low byte of the address first.
    EXPECT_EQ(respond(makeRequest(0x08, {0x02, 0xC0, 0x00, 32}), m).allBytes(), makeReply(0, slice(m.rom, 0xC002, 32)));
    // Ram24: the last block of the route table, right up to its end.
    EXPECT_EQ(respond(makeRequest(0x08, {0xC0, 0x0F, 0x02, 0x80 | 64}), m).allBytes(),
              makeReply(0, slice(m.ram, 0x20FC0, 64)));
    // Bit 7 of the count is the RAM mark, so 127 bytes is the most of either space.
    EXPECT_EQ(respond(makeRequest(0x05, {0xC0, 0x00, 0x7F}), m).allBytes(), makeReply(0, slice(m.rom, 0xC000, 127)));
    EXPECT_EQ(respond(makeRequest(0x05, {0x0B, 0x00, 0xFF}), m).allBytes(), makeReply(0, slice(m.ram, 0x0B00, 127)));
    // Count 0 is an intact, empty reply.
    EXPECT_EQ(respond(makeRequest(0x05, {0xC0, 0x00, 0x00}), m).allBytes(), makeReply(0, {}));
}

TEST(Responder, WritesAreStoredAndAcknowledged) {
    StationModel m = makeDefaultStation();
    const Response r = respond(Bytes{0xDA, 0x04, 0x06, 0xC0, 0x04, 0x00, 0x3A, 0x81, 0x79}, m);
    EXPECT_EQ(r.allBytes(), (Bytes{0xAD, 0x00, 0x00, 0xFF, 0xCD}));
    EXPECT_EQ(m.rom[0xC004], 0x3A);
    EXPECT_TRUE(r.wroteMemory);

    // Ram16 write: the count with bit 7 set must match the data.
    EXPECT_EQ(statusOf(respond(makeRequest(0x06, {0x02, 0x00, 0x82, 0x11, 0x22}), m)), 0);
    EXPECT_EQ(m.ram[0x0200], 0x11);
    EXPECT_EQ(m.ram[0x0201], 0x22);
    EXPECT_NE(statusOf(respond(makeRequest(0x06, {0x02, 0x00, 0x83, 0x33, 0x44}), m)), 0);
    EXPECT_EQ(m.ram[0x0200], 0x11);

    // Rom24 write of the channel table.
    Bytes args{0x0C, 0xC0, 0x00, 4, 0x6E, 0x07, 0xF5, 0x01};
    EXPECT_EQ(respond(makeRequest(0x0B, args), m).allBytes(), makeReply(0, {}));
    EXPECT_EQ(m.rom16(0xC00C), 1902);
    EXPECT_EQ(m.rom16(0xC00E), 501);
    // A count that disagrees with the data is refused and stores nothing.
    EXPECT_NE(statusOf(respond(makeRequest(0x0B, {0x0C, 0xC0, 0x00, 3, 0x01, 0x02}), m)), 0);
    EXPECT_EQ(m.rom16(0xC00C), 1902);
}

TEST(Responder, RestartIsNeverAnsweredAndRomSurvives) {
    StationModel m = makeDefaultStation();
    respond(makeRequest(0x06, {0xC0, 0x04, 0x00, 0x3A}), m);
    const Response r = respond(Bytes{0xDA, 0x00, 0xDD, 0xB8, 0x85}, m);
    EXPECT_TRUE(r.silent());
    EXPECT_TRUE(r.restarted);
    EXPECT_EQ(m.restarts, 1);
    EXPECT_EQ(m.rom[0xC004], 0x3A);
    respond(makeRequest(0xDD, {}), m, Fault::withStatus(5));   // a refusal cannot be sent either
    EXPECT_EQ(m.restarts, 2);
}

TEST(Responder, ControlCommandsAndRecordReaders) {
    StationModel m = makeDefaultStation();
    EXPECT_EQ(respond(makeRequest(0x0E, {15, 5, 20, 13, 45, 30}), m).allBytes(), makeReply(0, {}));
    EXPECT_TRUE(m.clockSet);
    EXPECT_EQ(m.clock, (std::array<std::uint8_t, 6>{15, 5, 20, 13, 45, 30}));
    EXPECT_NE(statusOf(respond(makeRequest(0x0E, {1, 2, 3}), m)), 0);
    EXPECT_EQ(respond(makeRequest(0x30, {}), m).allBytes(), makeReply(0, {}));
    EXPECT_EQ(respond(makeRequest(0x07, {}), m).allBytes(), makeReply(0, {0x81, 0x04, 0x23, 0x01}));
    EXPECT_EQ(respond(makeRequest(0xF1, {1, 2, 3, 4}), m).allBytes(), makeReply(0, {1, 2, 3, 4}));
    EXPECT_EQ(respond(makeRequest(0xF2, {}), m).allBytes().size(), 2u + 5u);
    EXPECT_EQ(respond(makeRequest(0x20, {9, 8, 7}), m).allBytes(), makeReply(0, {}));
    EXPECT_EQ(m.lastData, (Bytes{9, 8, 7}));

    m.recordCursor = 0x0012;
    EXPECT_EQ(respond(makeRequest(0x24, {}), m).allBytes(), makeReply(0, {0x00, 0x12}));
    Bytes full = respond(makeRequest(0x24, {0x00, 0x05}), m).allBytes();
    ASSERT_EQ(full.size(), 26u + 5u);
    EXPECT_EQ(full[3 + 4], 5);          // record bytes start at data byte 4
    EXPECT_EQ(full[3 + 4 + 19], 5 + 19);
    full = respond(makeRequest(0x21, {0x00, 0xFF, 0x00}), m).allBytes();
    EXPECT_EQ(full.size(), 38u + 5u);
    // A position past the records: only the head, with the station's position.
    EXPECT_EQ(respond(makeRequest(0x21, {0x01, 0x00, 0x00}), m).allBytes(), makeReply(0, {0, 0, 0x00, 0x12}));
    EXPECT_NE(statusOf(respond(makeRequest(0x21, {0x00, 0x01}), m)), 0);
}

TEST(Responder, HostileRequestsAreRefusedWithoutTouchingMemory) {
    StationModel m = makeDefaultStation();
    const StationModel before = m;
    // Reads and writes that run past the end of a space.
    EXPECT_EQ(statusOf(respond(makeRequest(0x05, {0xFF, 0xF8, 0x10}), m)), kStatusOutOfRange);
    EXPECT_EQ(statusOf(respond(makeRequest(0x05, {0xFF, 0xFF, 0x02}), m)), kStatusOutOfRange);
    EXPECT_EQ(statusOf(respond(makeRequest(0x08, {0xF8, 0x0F, 0x02, 0x80 | 16}), m)), kStatusOutOfRange);
    EXPECT_EQ(statusOf(respond(makeRequest(0x08, {0xFF, 0xFF, 0xFF, 0xFF}), m)), kStatusOutOfRange);
    EXPECT_EQ(statusOf(respond(makeRequest(0x08, {0x00, 0x00, 0x01, 0x01}), m)), kStatusOutOfRange);   // ROM ends at 0xFFFF
    EXPECT_EQ(statusOf(respond(makeRequest(0x06, {0xFF, 0xFF, 0x00, 1, 2}), m)), kStatusOutOfRange);
    EXPECT_EQ(statusOf(respond(makeRequest(0x0B, {0xFF, 0xFF, 0x00, 2, 1, 2}), m)), kStatusOutOfRange);
    EXPECT_EQ(statusOf(respond(makeRequest(0x0B, {0x00, 0x00, 0xFF, 1, 1}), m)), kStatusOutOfRange);
    // Wrong argument counts and unknown commands.
    EXPECT_EQ(statusOf(respond(makeRequest(0x05, {0xC0, 0x00}), m)), kStatusBadArguments);
    EXPECT_EQ(statusOf(respond(makeRequest(0x05, {}), m)), kStatusBadArguments);
    EXPECT_EQ(statusOf(respond(makeRequest(0x08, {1, 2, 3, 4, 5}), m)), kStatusBadArguments);
    EXPECT_EQ(statusOf(respond(makeRequest(0x06, {0xC0}), m)), kStatusBadArguments);
    EXPECT_EQ(statusOf(respond(makeRequest(0x06, {0xC0, 0x00, 0x05, 1}), m)), kStatusBadArguments);
    EXPECT_EQ(statusOf(respond(makeRequest(0x0B, {0x00}), m)), kStatusBadArguments);
    EXPECT_EQ(statusOf(respond(makeRequest(0x99, {1, 2, 3}), m)), kStatusUnknownCommand);
    // The largest request the line can carry.
    EXPECT_EQ(statusOf(respond(makeRequest(0x06, Bytes(255, 0xEE)), m)), kStatusBadArguments);
    // Every command with every short argument list answers something sane.
    for (int cmd = 0; cmd < 256; ++cmd)
        for (std::size_t len = 0; len < 8; ++len) {
            if (cmd == 0x06 || cmd == 0x0B || cmd == 0x20 || cmd == 0xDD || cmd == 0x0E) continue;   // writers
            const Response r = respond(makeRequest(static_cast<std::uint8_t>(cmd), Bytes(len, 0xFF)), m);
            ASSERT_FALSE(r.silent()) << cmd;
        }
    EXPECT_EQ(m.rom, before.rom);
    EXPECT_EQ(m.ram, before.ram);
    // A model smaller than usual is still guarded by its own size.
    StationModel tiny;
    tiny.rom.assign(16, 0);
    tiny.ram.assign(16, 0);
    EXPECT_EQ(statusOf(respond(makeRequest(0x05, {0xC0, 0x00, 0x10}), tiny)), kStatusOutOfRange);
    EXPECT_EQ(statusOf(respond(makeRequest(0x05, {0x00, 0x00, 0x10}), tiny)), 0);
    EXPECT_EQ(statusOf(respond(makeRequest(0x06, {0x00, 0x0F, 0x00, 1, 2}), tiny)), kStatusOutOfRange);
    EXPECT_EQ(statusOf(respond(makeRequest(0x07, {}), tiny)), 0);
}

TEST(Responder, DamagedRequestsGetNoReplyAndChangeNothing) {
    StationModel m = makeDefaultStation();
    Bytes write = makeRequest(0x06, {0xC0, 0x04, 0x00, 0x3A});
    write.back() ^= 0x01;
    EXPECT_TRUE(respond(write, m).silent());
    EXPECT_EQ(m.rom[0xC004], 0x9E);
    Bytes good = makeRequest(0x05, {0xC0, 0x00, 0x10});
    EXPECT_TRUE(respond(Bytes(good.begin(), good.end() - 1), m).silent());   // cut short
    Bytes wrongStart = good;
    wrongStart[0] = 0xAD;
    EXPECT_TRUE(respond(wrongStart, m).silent());
    EXPECT_TRUE(respond(nullptr, 0, m).silent());
    Bytes restart = makeRequest(0xDD, {});
    restart[3] ^= 0x80;
    EXPECT_TRUE(respond(restart, m).silent());
    EXPECT_EQ(m.restarts, 0);
}
