// The link protocol against the simulated station over a real pty: what goes
// on the wire, and the code each injected fault ends in.

#include <array>

#include "Platform.h"
#include "RLComPort.h"
#include "SerialPort.h"
#include "SimStation.h"

using sim::Fault;

TEST_F(SimStation, WorkedFramesOnTheWire) {
    std::array<std::uint8_t, 16> head{};
    EXPECT_EQ(conn.readRom16(0xC000, 16, head.data(), 2), 16);
    const sim::StationModel model = host.snapshot();
    EXPECT_EQ(Bytes(head.begin(), head.end()), romBytes(model, 0xC000, 16));

    std::array<std::uint8_t, 2> version{};
    EXPECT_EQ(conn.readRam16(0x0B00, 2, version.data(), 2), 2);
    EXPECT_EQ(version[0], 0x81);
    EXPECT_EQ(version[1], 4);

    const std::uint8_t system = 0x3A;
    EXPECT_TRUE(conn.writeRom16(0xC004, 1, &system, 2));
    EXPECT_EQ(host.snapshot().rom[0xC004], 0x3A);

    EXPECT_TRUE(conn.sendRestart());
    ASSERT_TRUE(host.waitForFrames(7, std::chrono::milliseconds(5000)));

    const std::vector<Bytes> sent = requests();
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(sent[0], (Bytes{0xDA, 0x03, 0x05, 0xC0, 0x00, 0x10, 0x44, 0xE7}));
    EXPECT_EQ(sent[1], (Bytes{0xDA, 0x03, 0x05, 0x0B, 0x00, 0x82, 0x31, 0x1A}));
    EXPECT_EQ(sent[2], (Bytes{0xDA, 0x04, 0x06, 0xC0, 0x04, 0x00, 0x3A, 0x81, 0x79}));
    EXPECT_EQ(sent[3], (Bytes{0xDA, 0x00, 0xDD, 0xB8, 0x85}));

    const std::vector<Bytes> answered = replies();
    ASSERT_EQ(answered.size(), 3u);   // the restart is never answered
    EXPECT_EQ(answered[0].size(), 16u + 5u);
    EXPECT_EQ(answered[0][0], 0xAD);
    EXPECT_EQ(answered[0][1], 16);
    EXPECT_EQ(answered[2], (Bytes{0xAD, 0x00, 0x00, 0xFF, 0xCD}));
    EXPECT_EQ(host.snapshot().restarts, 1);
}

TEST_F(SimStation, EveryMemoryFormReachesItsSpace) {
    host.withModel([](sim::StationModel& m) {
        for (int i = 0; i < 16; ++i) m.ram[0x1040 + i] = static_cast<std::uint8_t>(0xA0 + i);
    });

    std::array<std::uint8_t, 16> row{};
    EXPECT_EQ(conn.readRam24(0x1040, 16, row.data(), 2), 16);
    EXPECT_EQ(row[0], 0xA0);
    EXPECT_EQ(row[15], 0xAF);

    const std::array<std::uint8_t, 3> ramWords{0x11, 0x22, 0x33};
    EXPECT_TRUE(conn.writeRam16(0x0B10, 3, ramWords.data(), 2));
    const std::array<std::uint8_t, 4> romWords{1, 2, 3, 4};
    EXPECT_TRUE(conn.writeRom24(0x00C0F0, 4, romWords.data(), 2));
    std::array<std::uint8_t, 4> back{};
    EXPECT_EQ(conn.readRom24(0x00C0F0, 4, back.data(), 2), 4);
    EXPECT_EQ(back, romWords);
    std::array<std::uint8_t, 8> block{};
    EXPECT_EQ(conn.readParamBlock(0x08, 8, block.data()), 8);

    const sim::StationModel m = host.snapshot();
    EXPECT_EQ(m.ram[0x0B10], 0x11);
    EXPECT_EQ(m.ram[0x0B12], 0x33);
    EXPECT_EQ(Bytes(block.begin(), block.end()), romBytes(m, 0xC008, 8));

    const std::vector<Bytes> sent = requests();
    ASSERT_EQ(sent.size(), 5u);
    // 24-bit addresses travel low byte first; the RAM mark is bit 7 of the count.
    EXPECT_EQ(Bytes(sent[0].begin(), sent[0].begin() + 7), (Bytes{0xDA, 0x04, 0x08, 0x40, 0x10, 0x00, 0x90}));
    EXPECT_EQ(Bytes(sent[1].begin(), sent[1].begin() + 9),
              (Bytes{0xDA, 0x06, 0x06, 0x0B, 0x10, 0x83, 0x11, 0x22, 0x33}));
    EXPECT_EQ(Bytes(sent[2].begin(), sent[2].begin() + 11),
              (Bytes{0xDA, 0x08, 0x0B, 0xF0, 0xC0, 0x00, 0x04, 1, 2, 3, 4}));
    EXPECT_EQ(Bytes(sent[3].begin(), sent[3].begin() + 7), (Bytes{0xDA, 0x04, 0x08, 0xF0, 0xC0, 0x00, 0x04}));
    EXPECT_EQ(Bytes(sent[4].begin(), sent[4].begin() + 6), (Bytes{0xDA, 0x03, 0x05, 0xC0, 0x08, 0x08}));
}

TEST_F(SimStation, ControlCommandsAndForwards) {
    const link_platform::LocalTime before = link_platform::localTime();
    EXPECT_TRUE(conn.setClock());
    const link_platform::LocalTime after = link_platform::localTime();
    const sim::StationModel m = host.snapshot();
    ASSERT_TRUE(m.clockSet);
    auto encoded = [](const link_platform::LocalTime& t) {
        return std::array<std::uint8_t, 6>{static_cast<std::uint8_t>(t.year - 2010), static_cast<std::uint8_t>(t.month - 1),
                                           static_cast<std::uint8_t>(t.day - 1),     static_cast<std::uint8_t>(t.hour),
                                           static_cast<std::uint8_t>(t.minute),      static_cast<std::uint8_t>(t.second)};
    };
    EXPECT_TRUE(m.clock == encoded(before) || m.clock == encoded(after));

    EXPECT_TRUE(conn.command30());
    EXPECT_EQ(conn.commandF1(1, 2, 3, 4), 4);   // the station echoes the four bytes
    EXPECT_EQ(conn.commandF2(), 2);

    const std::vector<Bytes> sent = requests();
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(sent[0][1], 6);
    EXPECT_EQ(sent[0][2], 0x0E);
    EXPECT_EQ(Bytes(sent[1].begin(), sent[1].begin() + 3), (Bytes{0xDA, 0x00, 0x30}));
    EXPECT_EQ(Bytes(sent[2].begin(), sent[2].begin() + 7), (Bytes{0xDA, 0x04, 0xF1, 1, 2, 3, 4}));
    EXPECT_EQ(Bytes(sent[3].begin(), sent[3].begin() + 3), (Bytes{0xDA, 0x00, 0xF2}));
}

// The largest request of each kind that the frame and the count byte allow
// must still go out, whole, and do its work: a limit one too strict would
// cut the programming job's and the diagnostics' block sizes.
TEST_F(SimStation, TheLargestRequestsGoThrough) {
    auto pattern = [](std::size_t n, std::uint8_t first) {
        Bytes b(n);
        for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(first + 3 * i);
        return b;
    };
    host.withModel([&](sim::StationModel& m) {
        const Bytes rom = pattern(127, 1);
        const Bytes ram = pattern(127, 2);
        std::copy(rom.begin(), rom.end(), m.rom.begin() + 0xC000);
        std::copy(ram.begin(), ram.end(), m.ram.begin() + 0x0B00);
    });

    std::array<std::uint8_t, 127> in{};
    EXPECT_EQ(conn.readRom16(0xC000, 127, in.data(), 1), 127);
    EXPECT_EQ(Bytes(in.begin(), in.end()), pattern(127, 1));
    EXPECT_EQ(conn.readRam16(0x0B00, 127, in.data(), 1), 127);
    EXPECT_EQ(Bytes(in.begin(), in.end()), pattern(127, 2));

    const Bytes out120 = pattern(120, 5);
    const Bytes out119 = pattern(119, 6);
    const Bytes out95 = pattern(95, 7);
    EXPECT_TRUE(conn.writeRom16(0xC100, 120, out120.data(), 1));
    EXPECT_TRUE(conn.writeRam16(0x2000, 120, out120.data(), 1));
    EXPECT_TRUE(conn.writeRom24(0x00D000, 119, out119.data(), 1));
    RLComPort link;
    link.setPort(&conn.serialPort());
    EXPECT_TRUE(link.sendData(out95.data(), 95));

    const sim::StationModel m = host.snapshot();
    EXPECT_EQ(romBytes(m, 0xC100, 120), out120);
    EXPECT_EQ(Bytes(m.ram.begin() + 0x2000, m.ram.begin() + 0x2000 + 120), out120);
    EXPECT_EQ(romBytes(m, 0xD000, 119), out119);
    EXPECT_EQ(m.lastData, out95);

    const std::vector<Bytes> sent = requests();
    ASSERT_EQ(sent.size(), 6u);
    EXPECT_EQ(Bytes(sent[0].begin(), sent[0].begin() + 6), (Bytes{0xDA, 0x03, 0x05, 0xC0, 0x00, 0x7F}));
    EXPECT_EQ(Bytes(sent[1].begin(), sent[1].begin() + 6), (Bytes{0xDA, 0x03, 0x05, 0x0B, 0x00, 0xFF}));
    EXPECT_EQ(sent[2].size(), 3u + 3u + 120u + 2u);
    EXPECT_EQ(Bytes(sent[2].begin(), sent[2].begin() + 6), (Bytes{0xDA, 123, 0x06, 0xC1, 0x00, 0x00}));
    EXPECT_EQ(sent[3].size(), 3u + 3u + 120u + 2u);
    EXPECT_EQ(Bytes(sent[3].begin(), sent[3].begin() + 6), (Bytes{0xDA, 123, 0x06, 0x20, 0x00, 0xF8}));
    EXPECT_EQ(sent[4].size(), 3u + 4u + 119u + 2u);
    EXPECT_EQ(Bytes(sent[4].begin(), sent[4].begin() + 7), (Bytes{0xDA, 123, 0x0B, 0x00, 0xD0, 0x00, 119}));
    EXPECT_EQ(sent[5].size(), 3u + 95u + 2u);
    EXPECT_EQ(Bytes(sent[5].begin(), sent[5].begin() + 3), (Bytes{0xDA, 95, 0x20}));
}

TEST_F(SimStation, RecordReadersAndRawData) {
    // A link of our own on the same port, for the operations the connection
    // does not forward.
    RLComPort link;
    link.setPort(&conn.serialPort());
    host.withModel([](sim::StationModel& m) {
        m.recordCursor = 0x0007;
        m.recordCount = 256;
    });

    std::array<std::uint8_t, 20> r20{};
    std::uint16_t cursor = 0xFFFF;
    EXPECT_EQ(link.readRecord20(cursor, r20.data()), 0);
    EXPECT_EQ(cursor, 7);
    EXPECT_EQ(link.readRecord20(cursor, r20.data()), 20);
    EXPECT_EQ(cursor, 8);
    EXPECT_EQ(r20[0], 7);   // the station numbers record bytes from the position
    cursor = 255;
    EXPECT_EQ(link.readRecord20(cursor, r20.data()), 20);
    EXPECT_EQ(cursor, 0);

    std::array<std::uint8_t, 32> r32{};
    cursor = 0xFFFF;
    EXPECT_EQ(link.readRecord32(cursor, r32.data()), 0);
    EXPECT_EQ(cursor, 7);
    // A position the station has no record for: it names its own.
    host.withModel([](sim::StationModel& m) { m.recordCount = 10; });
    cursor = 200;
    EXPECT_EQ(link.readRecord32(cursor, r32.data()), 0);
    EXPECT_EQ(cursor, 7);
    cursor = 3;
    EXPECT_EQ(link.readRecord32(cursor, r32.data()), 32);
    EXPECT_EQ(r32[31], 3 + 31);

    const Bytes payload{9, 8, 7, 6, 5};
    EXPECT_TRUE(link.sendData(payload.data(), static_cast<int>(payload.size())));
    EXPECT_EQ(host.snapshot().lastData, payload);

    std::array<std::uint8_t, 255> identity{};
    EXPECT_TRUE(link.query07(identity.data()));
    EXPECT_EQ(identity[0], 0x81);

    const std::vector<Bytes> sent = requests();
    ASSERT_GE(sent.size(), 5u);
    EXPECT_EQ(sent[0].size(), 5u);   // no cursor: no arguments
    EXPECT_EQ(Bytes(sent[1].begin(), sent[1].begin() + 5), (Bytes{0xDA, 0x02, 0x24, 0x00, 0x07}));
    EXPECT_EQ(sent[3].size(), 5u);
    EXPECT_EQ(Bytes(sent[4].begin(), sent[4].begin() + 6), (Bytes{0xDA, 0x03, 0x21, 0x00, 0xC8, 0x00}));
}

TEST_F(SimStation, RepliesThatStillArriveWhole) {
    std::array<std::uint8_t, 32> buf{};
    const Bytes expected = romBytes(host.snapshot(), 0xC002, 32);

    faults([](sim::FaultScript& s) {
        s.at(0, Fault::echo());
        s.at(1, Fault::pieces(3, 20));   // gaps far beyond the 2 ms that end a read
        s.at(2, Fault::delay(300));
        s.at(3, Fault::pieces(7, 5));
        // The header itself in pieces: completed, never taken half.
        s.at(4, Fault::pieces(2, 20));
        s.at(5, Fault::pieces(1, 20));
    });
    for (int i = 0; i < 6; ++i) {
        buf.fill(0);
        EXPECT_EQ(conn.readRom16(0xC002, 32, buf.data(), 1), 32) << "exchange " << i;
        EXPECT_EQ(Bytes(buf.begin(), buf.end()), expected) << "exchange " << i;
    }
    EXPECT_EQ(host.exchangeCount(), 6);
}

TEST_F(SimStation, DamagedAndRefusedRepliesEndInTheirCodes) {
    std::array<std::uint8_t, 16> buf{};
    auto read1 = [&] { conn.readRom16(0xC000, 16, buf.data(), 1); };

    faults([](sim::FaultScript& s) { s.always(Fault::badCrc()); });
    EXPECT_EQ(codeOf(read1), -1);
    faults([](sim::FaultScript& s) { s.always(Fault::withStatus(1)); });
    EXPECT_EQ(codeOf(read1), -2);
    faults([](sim::FaultScript& s) { s.always(Fault::withStatus(0x7F)); });
    EXPECT_EQ(codeOf(read1), -2);
    // Mended: a read reply with data but not the count asked for is no reply,
    // and nothing of it reaches the caller.
    faults([](sim::FaultScript& s) { s.always(Fault::wrongDataLength(5)); });
    buf.fill(0xEE);
    EXPECT_EQ(codeOf(read1), -1);
    for (std::uint8_t b : buf) EXPECT_EQ(b, 0xEE);
    faults([](sim::FaultScript& s) { s.always(Fault::wrongDataLength(40)); });
    EXPECT_EQ(codeOf(read1), -1);
    for (std::uint8_t b : buf) EXPECT_EQ(b, 0xEE);

    // An intact, empty reply is no failure of the link, only no data.
    RLComPort link;
    link.setPort(&conn.serialPort());
    faults([](sim::FaultScript& s) { s.always(Fault::wrongDataLength(0)); });
    EXPECT_FALSE(link.readMemory(0xC000, MemoryKind::Rom16, 16, buf.data()));
    // The retry family takes it as an attempt without success: all three
    // attempts are made, then -1.
    const int beforeEmpty = host.exchangeCount();
    EXPECT_EQ(codeOf([&] { conn.readRom16(0xC000, 16, buf.data(), 3); }), -1);
    EXPECT_EQ(host.exchangeCount(), beforeEmpty + 3);

    // Noise where the reply should start. The rest of that reply is left on
    // the line; the next request discards it once it has landed.
    faults([](sim::FaultScript& s) { s.always(Fault::garbage(3)); });
    EXPECT_EQ(codeOf(read1), -1);

    // The port stays usable after every failure.
    faults([](sim::FaultScript&) {});
    ASSERT_TRUE(host.waitForFrames(2 * host.exchangeCount(), std::chrono::milliseconds(5000)));
    EXPECT_EQ(conn.readRom16(0xC000, 16, buf.data(), 1), 16);
}

TEST_F(SimStation, RetryRules) {
    std::array<std::uint8_t, 16> buf{};
    const int before = host.exchangeCount();
    // No attempts at all: nothing is sent.
    EXPECT_EQ(codeOf([&] { conn.readRom16(0xC000, 16, buf.data(), 0); }), -1);
    EXPECT_EQ(codeOf([&] { conn.readRam16(0x0B00, 2, buf.data(), -3); }), -1);
    EXPECT_EQ(codeOf([&] { conn.writeRom16(0xC004, 1, buf.data(), 0); }), -1);
    EXPECT_EQ(host.exchangeCount(), before);

    // A failure on an earlier attempt is retried at once; the count asked
    // for is the result.
    faults([](sim::FaultScript& s) { s.at(0, Fault::badCrc()); });
    EXPECT_EQ(conn.readRom16(0xC000, 16, buf.data(), 2), 16);
    EXPECT_EQ(host.exchangeCount(), 2);

    // A refusal on an earlier attempt is retried too ...
    host.clearFrames();
    faults([](sim::FaultScript& s) { s.at(2, Fault::withStatus(3)); });
    EXPECT_EQ(conn.readRom16(0xC000, 16, buf.data(), 2), 16);
    // ... and on the last attempt it is the outcome, whatever came before.
    faults([](sim::FaultScript& s) {
        s.at(4, Fault::badCrc());
        s.at(5, Fault::withStatus(1));
    });
    EXPECT_EQ(codeOf([&] { conn.readRom16(0xC000, 16, buf.data(), 2); }), -2);
    faults([](sim::FaultScript& s) {
        s.at(6, Fault::withStatus(1));
        s.at(7, Fault::badCrc());
    });
    EXPECT_EQ(codeOf([&] { conn.readRom16(0xC000, 16, buf.data(), 2); }), -1);

    // Writes follow the same rules.
    const std::uint8_t system = 0x3A;
    faults([](sim::FaultScript& s) { s.at(8, Fault::withStatus(2)); });
    EXPECT_TRUE(conn.writeRom16(0xC004, 1, &system, 2));
    faults([](sim::FaultScript& s) { s.always(Fault::withStatus(2)); });
    EXPECT_EQ(codeOf([&] { conn.writeRom16(0xC004, 1, &system, 3); }), -2);
    EXPECT_EQ(host.exchangeCount(), 13);

    // A read reply of the wrong length, or an empty one, costs one attempt;
    // the next attempt that brings the count asked for succeeds.
    faults([](sim::FaultScript&) {});
    for (int length : {5, 0}) {
        const int first = host.exchangeCount();
        faults([first, length](sim::FaultScript& s) { s.at(first, Fault::wrongDataLength(length)); });
        buf.fill(0xEE);
        EXPECT_EQ(conn.readRom16(0xC000, 16, buf.data(), 2), 16) << "data length " << length;
        EXPECT_EQ(host.exchangeCount(), first + 2) << "data length " << length;
        EXPECT_EQ(Bytes(buf.begin(), buf.end()), romBytes(host.snapshot(), 0xC000, 16));
    }
}

// The only tests here that wait out the line's time-outs (1300 ms for every
// header read that hears nothing).
TEST_F(SimStation, SilentStation) {
    std::array<std::uint8_t, 16> buf{};
    faults([](sim::FaultScript& s) { s.at(0, Fault::noReply()); });
    EXPECT_EQ(conn.readRom16(0xC000, 16, buf.data(), 2), 16);

    faults([](sim::FaultScript& s) { s.at(2, Fault::noReply()); });
    EXPECT_EQ(codeOf([&] { conn.readRom16(0xC000, 16, buf.data(), 1); }), -1);

    // A length byte that promises more than follows: the frame is cut short.
    faults([](sim::FaultScript& s) { s.at(3, Fault::oversizedLength(18)); });
    EXPECT_EQ(codeOf([&] { conn.readRam16(0x0B00, 2, buf.data(), 1); }), -1);

    const int seen = host.exchangeCount();
    faults([seen](sim::FaultScript& s) { s.powerLostFrom(seen); });
    EXPECT_EQ(codeOf([&] { conn.readRom16(0xC000, 16, buf.data(), 2); }), -1);
    EXPECT_EQ(host.exchangeCount(), seen + 2);
}
