// The link and the simulated station each keep the protocol's bytes; both
// copies must be the station's own bytes, so a slip in either shows here and
// not as a simulated station that agrees with a wrong link.
#include <gtest/gtest.h>

#include "LineFacts.h"
#include "StationProtocol.h"

namespace {

struct ByteFact {
    const char* what;
    std::uint8_t link;
    std::uint8_t sim;
    std::uint8_t wire;
};

const ByteFact kBytes[] = {
    {"request start", line::kRequestStart, sim::protocol::kRequestStart, 0xDA},
    {"reply start", line::kReplyStart, sim::protocol::kReplyStart, 0xAD},
    {"RAM mark", line::kRamMark, sim::protocol::kRamMark, 0x80},
    {"read, 16-bit", line::command::kRead16, sim::protocol::kRead16, 0x05},
    {"write, 16-bit", line::command::kWrite16, sim::protocol::kWrite16, 0x06},
    {"identity query", line::command::kQuery07, sim::protocol::kQuery07, 0x07},
    {"read, 24-bit", line::command::kRead24, sim::protocol::kRead24, 0x08},
    {"write ROM, 24-bit", line::command::kWriteRom24, sim::protocol::kWriteRom24, 0x0B},
    {"set clock", line::command::kSetClock, sim::protocol::kSetClock, 0x0E},
    {"send data", line::command::kSendData, sim::protocol::kSendData, 0x20},
    {"32-byte record", line::command::kRecord32, sim::protocol::kRecord32, 0x21},
    {"20-byte record", line::command::kRecord20, sim::protocol::kRecord20, 0x24},
    {"command 30", line::command::kCommand30, sim::protocol::kCommand30, 0x30},
    {"restart", line::command::kRestart, sim::protocol::kRestart, 0xDD},
    {"command F1", line::command::kCommandF1, sim::protocol::kCommandF1, 0xF1},
    {"command F2", line::command::kCommandF2, sim::protocol::kCommandF2, 0xF2},
};

TEST(LineFacts, TheLinkAndTheSimulatedStationEachUseTheStationsOwnBytes) {
    for (const ByteFact& fact : kBytes) {
        EXPECT_EQ(fact.link, fact.wire) << "link: " << fact.what;
        EXPECT_EQ(fact.sim, fact.wire) << "simulated station: " << fact.what;
    }
    EXPECT_EQ(line::kBaud, 57600);
    EXPECT_EQ(line::kReadMsPerByte, 100u);
    EXPECT_EQ(line::kInterByteGapMs, 2u);
    EXPECT_EQ(line::kReadTimeoutMs, 1000u);
    EXPECT_EQ(line::kAttempts, 2);
}

}  // namespace
