#include <gtest/gtest.h>

#include <tuple>

#include "Faults.h"
#include "Responder.h"

using namespace sim;
using Bytes = std::vector<std::uint8_t>;

namespace {

const Bytes kReadHead{0xDA, 0x03, 0x05, 0xC0, 0x00, 0x10, 0x44, 0xE7};

Bytes headReply(const StationModel& m) {
    return makeReply(0, Bytes(m.rom.begin() + 0xC000, m.rom.begin() + 0xC010));
}

}  // namespace

TEST(Faults, ShapeTheReplyBytes) {
    StationModel m = makeDefaultStation();
    const Bytes good = headReply(m);

    EXPECT_TRUE(respond(kReadHead, m, Fault::noReply()).silent());

    Response r = respond(kReadHead, m, Fault::delay(250));
    ASSERT_EQ(r.segments.size(), 1u);
    EXPECT_EQ(r.segments[0].delayMs, 250);
    EXPECT_EQ(r.allBytes(), good);

    r = respond(kReadHead, m, Fault::pieces(4, 30));
    ASSERT_EQ(r.segments.size(), (good.size() + 3) / 4);
    EXPECT_EQ(r.segments[0].delayMs, 0);
    EXPECT_EQ(r.segments[1].delayMs, 30);
    EXPECT_EQ(r.segments[0].bytes.size(), 4u);
    EXPECT_EQ(r.allBytes(), good);

    Bytes bad = respond(kReadHead, m, Fault::badCrc()).allBytes();
    ASSERT_EQ(bad.size(), good.size());
    EXPECT_EQ(Bytes(bad.begin(), bad.end() - 1), Bytes(good.begin(), good.end() - 1));
    EXPECT_NE(bad.back(), good.back());

    EXPECT_EQ(respond(kReadHead, m, Fault::withStatus(7)).allBytes(), makeReply(7, {}));

    Bytes echoed = respond(kReadHead, m, Fault::echo()).allBytes();
    Bytes expected = kReadHead;
    expected.insert(expected.end(), good.begin(), good.end());
    EXPECT_EQ(echoed, expected);

    Bytes noisy = respond(kReadHead, m, Fault::garbage(5)).allBytes();
    ASSERT_EQ(noisy.size(), good.size() + 5);
    for (int i = 0; i < 5; ++i) {
        EXPECT_NE(noisy[static_cast<std::size_t>(i)], 0xAD);
        EXPECT_NE(noisy[static_cast<std::size_t>(i)], 0xDA);
    }
    EXPECT_EQ(Bytes(noisy.begin() + 5, noisy.end()), good);

    // The length byte promises more than follows; what follows is the real data.
    Bytes oversized = respond(kReadHead, m, Fault::oversizedLength()).allBytes();
    EXPECT_EQ(oversized[1], 255);
    EXPECT_EQ(oversized.size(), good.size());
    oversized = respond(kReadHead, m, Fault::oversizedLength(140)).allBytes();
    EXPECT_EQ(oversized[1], 140);
    EXPECT_LT(oversized.size(), 140u + 5u);

    // Another data count than asked, from the same memory, with a valid CRC.
    Bytes shortRead = respond(kReadHead, m, Fault::wrongDataLength(3)).allBytes();
    EXPECT_EQ(shortRead, makeReply(0, {m.rom[0xC000], m.rom[0xC001], m.rom[0xC002]}));
    Bytes longRead = respond(makeRequest(0x05, {0xFF, 0xF0, 0x10}), m, Fault::wrongDataLength(20)).allBytes();
    ASSERT_EQ(longRead.size(), 20u + 5u);
    EXPECT_EQ(longRead[3 + 19], 0);   // past the end of ROM reads as zero, never beyond the model
}

TEST(Faults, DecideWhetherTheRequestTakesEffect) {
    StationModel m = makeDefaultStation();
    const Bytes write = makeRequest(0x06, {0xC0, 0x04, 0x00, 0x3A});

    Response r = respond(write, m, Fault::ignoreWrite());
    EXPECT_EQ(r.allBytes(), makeReply(0, {}));
    EXPECT_FALSE(r.wroteMemory);
    EXPECT_EQ(m.rom[0xC004], 0x9E);

    EXPECT_EQ(respond(write, m, Fault::withStatus(2)).allBytes(), makeReply(2, {}));
    EXPECT_EQ(m.rom[0xC004], 0x9E);   // a refused write stores nothing

    EXPECT_TRUE(respond(write, m, Fault::noReply()).silent());
    EXPECT_EQ(m.rom[0xC004], 0x9E);   // a swallowed request never reached the firmware

    r = respond(write, m, Fault::badCrc());
    EXPECT_TRUE(r.wroteMemory);       // done, only the answer got damaged
    EXPECT_EQ(m.rom[0xC004], 0x3A);
}

TEST(Faults, ScriptPicksTheFaultOfEachExchange) {
    FaultScript s;
    EXPECT_TRUE(s.empty());
    s.at(1, Fault::echo());
    s.at(4, Fault::badCrc());
    s.always(Fault::delay(5));
    s.powerLostFrom(4);
    EXPECT_EQ(s.faultFor(0).kind, Fault::Kind::Delay);
    EXPECT_EQ(s.faultFor(1).kind, Fault::Kind::Echo);
    EXPECT_EQ(s.faultFor(3).kind, Fault::Kind::Delay);
    EXPECT_EQ(s.faultFor(4).kind, Fault::Kind::NoReply);   // power lost wins over its own fault
    EXPECT_EQ(s.faultFor(400).kind, Fault::Kind::NoReply);
    s.clear();
    EXPECT_TRUE(s.empty());
    EXPECT_EQ(s.faultFor(4).kind, Fault::Kind::None);
}

TEST(Faults, ScriptsParseFromText) {
    std::string error;
    auto s = FaultScript::parse("0:echo, 2:delay=300,3:pieces=2/20,5:status=4,6:garbage=7,"
                                "7:oversized,8:oversized=140,9:wronglength=3,10:ignorewrite,11:badcrc,"
                                "12:noreply,13:hangup,always:delay=1,powerlost:20",
                                &error);
    ASSERT_TRUE(s.has_value()) << error;
    EXPECT_EQ(s->faultFor(0).kind, Fault::Kind::Echo);
    EXPECT_EQ(s->faultFor(1).kind, Fault::Kind::Delay);
    EXPECT_EQ(s->faultFor(1).delayMs, 1);
    EXPECT_EQ(s->faultFor(2).delayMs, 300);
    EXPECT_EQ(s->faultFor(3).kind, Fault::Kind::Pieces);
    EXPECT_EQ(s->faultFor(3).pieceBytes, 2);
    EXPECT_EQ(s->faultFor(3).gapMs, 20);
    EXPECT_EQ(s->faultFor(5).status, 4);
    EXPECT_EQ(s->faultFor(6).garbageBytes, 7);
    EXPECT_EQ(s->faultFor(7).kind, Fault::Kind::OversizedLength);
    EXPECT_EQ(s->faultFor(8).dataLength, 140);
    EXPECT_EQ(s->faultFor(9).kind, Fault::Kind::WrongDataLength);
    EXPECT_EQ(s->faultFor(13).kind, Fault::Kind::HangUp);
    EXPECT_EQ(s->faultFor(9).dataLength, 3);
    EXPECT_EQ(s->faultFor(10).kind, Fault::Kind::IgnoreWrite);
    EXPECT_EQ(s->faultFor(11).kind, Fault::Kind::BadCrc);
    EXPECT_EQ(s->faultFor(12).kind, Fault::Kind::NoReply);
    EXPECT_EQ(s->faultFor(20).kind, Fault::Kind::NoReply);
    EXPECT_TRUE(FaultScript::parse("")->empty());

    for (const char* bad : {"echo", "x:echo", "1:echo=3", "1:delay", "1:delay=-5", "1:status=0", "1:pieces=2",
                            "1:pieces=0/5", "powerlost:x", "1:frobnicate", "1:echo,,2:echo", "99999999999:echo"}) {
        error.clear();
        EXPECT_FALSE(FaultScript::parse(bad, &error).has_value()) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
}

// The simulator's --fault and a test script read one grammar: each pair
// places the same fault at the same exchange.
TEST(Faults, OptionAndScriptPlaceTheSameFault) {
    const struct {
        const char* option;
        const char* script;
        int exchange;
    } cases[] = {
        {"pieces=3,40@2", "2:pieces=3/40", 2},  {"datalen=5@1", "1:wronglength=5", 1},
        {"oversized=140@4", "4:oversized=140", 4}, {"delay=+250@ 3", "3:delay=250", 3},
        {"status=7", "always:status=7", 9},       {"garbage=2@*", "always:garbage=2", 0},
        {"echo=@0", "0:echo", 0},                 {"powerlost@5", "powerlost:5", 7},
    };
    for (const auto& c : cases) {
        FaultScript fromOption;
        ASSERT_TRUE(fromOption.add(c.option)) << c.option;
        std::string error;
        const auto fromScript = FaultScript::parse(c.script, &error);
        ASSERT_TRUE(fromScript.has_value()) << c.script << ": " << error;
        const Fault a = fromOption.faultFor(c.exchange);
        const Fault b = fromScript->faultFor(c.exchange);
        EXPECT_NE(a.kind, Fault::Kind::None) << c.option;
        EXPECT_EQ(std::tie(a.kind, a.delayMs, a.pieceBytes, a.gapMs, a.status, a.garbageBytes, a.dataLength),
                  std::tie(b.kind, b.delayMs, b.pieceBytes, b.gapMs, b.status, b.garbageBytes, b.dataLength))
            << c.option << " / " << c.script;
    }

    FaultScript untouched;
    for (const char* bad : {"delay=600001@1", "pieces=2,20,5", "powerlost=1@2", "echo@-1", "echo@"})
        EXPECT_FALSE(untouched.add(bad)) << bad;
    EXPECT_TRUE(untouched.empty()) << "a refused fault changes nothing";
}
