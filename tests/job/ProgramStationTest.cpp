#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

#include "LogDirectory.h"

#include <QCoreApplication>
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "JobMessages.h"
#include "JobRun.h"
#include "Responder.h"
#include "SimStation.h"
#include "StationBackup.h"
#include "StationRecord.h"

namespace {

std::string hexLine(const std::uint8_t* bytes, std::size_t count) {
    std::string line;
    char digits[4];
    for (std::size_t i = 0; i < count; ++i) {
        std::snprintf(digits, sizeof digits, "%02X ", bytes[i]);
        line += digits;
    }
    return line;
}

// Steps 1 to 6 of a run: the head, the marker, the 16 dump lines, 32 dashes.
std::vector<std::string> expectedDump(const sim::StationModel& model) {
    std::vector<std::string> lines{hexLine(model.rom.data() + 0xC000, 16), "--------ROM: 0xC000-------------"};
    for (std::uint32_t address = 0xC000; address < 0xC100; address += 16) {
        char column[16];
        std::snprintf(column, sizeof column, "%08X: ", address);
        lines.push_back(column + hexLine(model.rom.data() + address, 16));
    }
    lines.push_back(std::string(32, '-'));
    return lines;
}

sim::StationModel station(std::uint8_t system, std::uint16_t channel0 = 500, std::uint8_t channels = 2) {
    sim::DefaultStationOptions options;
    options.system = system;
    options.channel0 = channel0;
    options.channelCount = channels;
    return sim::makeDefaultStation(options);
}

class ProgramStationTest : public ::testing::Test {
protected:
    void SetUp() override {
        StationRecord::create();
        StationRecord::instance()->params().fill(0xEE);
    }
    static ParamHead recordHead() { return StationRecord::instance()->params(); }
    static ParamHead headOf(const sim::StationModel& model) {
        ParamHead head;
        std::memcpy(head.data(), model.rom.data() + 0xC000, head.size());
        return head;
    }
};

const std::vector<std::string> kDefaultStationDecision = {
    "Current Params:",
    "modev version: 81",
    "freq_range: 1, freq_subrange: 1",
    "system_cod: 158, ch_delta[0]: 0",
    "Channel 0: 500",
    "XTAL: 11.0592",
    "Fout: 434.750000",
    "80 FA 74 02 11 70 47 00 00 00 00 00 00 00 00 00 ",
    std::string(43, '-'),
    "New Params:",
    "XTAL: 12.288000",
    "Fout: 469.812500",
    "20 BC 63 02 11 70 C7 01 01 00 00 00 00 00 00 02 ",
};

}  // namespace

TEST_F(ProgramStationTest, A9EStationIsMovedThenReportedAsAlreadyMoved) {
    sim::PtyStationHost host;
    ASSERT_TRUE(host.start());
    const sim::StationModel before = host.snapshot();

    WorkThread thread;
    bool hookSawNoWrite = false;
    Bytes hookBlock;
    thread.setBeforeFirstWrite([&](const std::uint8_t* block256) {
        hookBlock.assign(block256, block256 + 256);
        hookSawNoWrite = romWrites(host.frames()).empty();
    });
    // The success signal must come after the restart went out: while it is
    // being emitted the worker is blocked here, so the restart can only be
    // on the line if it was sent before.
    bool restartBeforeSignal = false;
    QObject::connect(
        &thread, &WorkThread::onReadStationParam, &thread,
        [&] { restartBeforeSignal = host.waitForRestarts(1, std::chrono::seconds(10)); },
        Qt::DirectConnection);

    const JobOutcome outcome = runJob(thread, host.slavePathW());
    ASSERT_EQ(outcome.signalCount(), 1);
    EXPECT_EQ(outcome.moved, 1) << outcome.text().toStdString();
    EXPECT_TRUE(restartBeforeSignal);

    // The trace, line for line.
    std::vector<std::string> expected = expectedDump(before);
    expected.insert(expected.end(), kDefaultStationDecision.begin(), kDefaultStationDecision.end());
    EXPECT_EQ(outcome.trace, expected);

    // What the station holds now.
    const sim::StationModel after = host.snapshot();
    EXPECT_EQ(romBytes(after, 0xC00C, 16),
              (Bytes{0x6E, 0x07, 0xF5, 0x01, 0xF6, 0x01, 0xF7, 0x01, 0xF8, 0x01, 0xF9, 0x01, 0xFA, 0x01, 0xFB, 0x01}));
    EXPECT_EQ(romBytes(after, 0xC080, 16),
              (Bytes{0x20, 0xBC, 0x63, 0x02, 0x11, 0x70, 0xC7, 0x01, 0x01, 0, 0, 0, 0, 0, 0, 0x02}));
    EXPECT_EQ(after.rom[0xC004], 0x3A);
    EXPECT_EQ(after.restarts, 1);
    // Nothing else changed.
    Bytes expectedBlock = romBytes(before, 0xC000, 256);
    std::copy_n(romBytes(after, 0xC00C, 16).begin(), 16, expectedBlock.begin() + 0x0C);
    std::copy_n(romBytes(after, 0xC080, 16).begin(), 16, expectedBlock.begin() + 0x80);
    expectedBlock[4] = 0x3A;
    EXPECT_EQ(romBytes(after, 0xC000, 256), expectedBlock);

    // Writes in order, the system code last, the restart after them all.
    const auto frames = host.frames();
    const auto writes = romWrites(frames);
    ASSERT_EQ(writes.size(), 3u);
    EXPECT_EQ(writes[0].address, 0xC00C);
    EXPECT_EQ(writes[0].data.size(), 16u);
    EXPECT_EQ(writes[1].address, 0xC080);
    EXPECT_EQ(writes[1].data.size(), 16u);
    EXPECT_EQ(writes[2].address, 0xC004);
    EXPECT_EQ(writes[2].data, Bytes{0x3A});
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames.back().direction, sim::WireFrame::Direction::ToStation);
    EXPECT_EQ(frames.back().bytes.at(2), 0xDD);
    EXPECT_EQ(restartsSent(frames), 1);
    EXPECT_EQ(host.strayBytes(), Bytes{}) << "bytes outside request frames";
    // The station is given its settle time after acknowledging the last
    // write; a restart before it would lose what was written.
    ASSERT_GE(frames.size(), 2u);
    const sim::WireFrame& lastAck = frames[frames.size() - 2];
    EXPECT_EQ(lastAck.direction, sim::WireFrame::Direction::FromStation);
    EXPECT_GE(frames.back().time - lastAck.time, std::chrono::milliseconds(2000));

    // The backup hook got the block as read, before anything was written.
    EXPECT_TRUE(hookSawNoWrite);
    EXPECT_EQ(hookBlock, romBytes(before, 0xC000, 256));
    // ... and the same block was kept as a backup file.
    const QDir backups(logDirectoryPath() + QStringLiteral("/backups"));
    const QStringList saved = backups.entryList({QStringLiteral("*.bin")}, QDir::Files, QDir::Time);
    ASSERT_FALSE(saved.isEmpty());
    QFile backup(backups.filePath(saved.first()));
    ASSERT_TRUE(backup.open(QIODevice::ReadOnly));
    const QByteArray backupBytes = backup.readAll();
    EXPECT_EQ(Bytes(backupBytes.begin(), backupBytes.end()), romBytes(before, 0xC000, 256));
    // The record keeps the head as read, before the move.
    EXPECT_EQ(recordHead(), headOf(before));

    // A second run finds the station moved and writes nothing.
    host.clearFrames();
    const JobOutcome again = runJob(thread, host.slavePathW());
    ASSERT_EQ(again.signalCount(), 1);
    EXPECT_EQ(again.text(), job_messages::alreadyMoved());
    EXPECT_EQ(again.code(), 1000);
    EXPECT_TRUE(romWrites(host.frames()).empty());
    EXPECT_EQ(restartsSent(host.frames()), 0);
    EXPECT_EQ(host.snapshot().restarts, 1);
    ASSERT_FALSE(again.trace.empty());
    EXPECT_EQ(again.trace.back(), "20 BC 63 02 11 70 C7 01 01 00 00 00 00 00 00 02 ");
    EXPECT_NE(std::find(again.trace.begin(), again.trace.end(), "system_cod: 58, ch_delta[0]: 2"), again.trace.end());
    EXPECT_NE(std::find(again.trace.begin(), again.trace.end(), "Channel 0: 1902"), again.trace.end());
}

TEST_F(ProgramStationTest, StationsOfOtherSystemsAreRefusedWithACompleteTrace) {
    struct Case {
        std::uint8_t system;
        std::uint16_t channel0;
    };
    for (const Case c : {Case{0x3A, 500}, Case{0x3A, 1901}, Case{0x00, 1902}, Case{0xFF, 500}}) {
        SCOPED_TRACE(testing::Message() << "system " << int(c.system) << " channel " << c.channel0);
        sim::PtyStationHost host(station(c.system, c.channel0));
        ASSERT_TRUE(host.start());
        const sim::StationModel before = host.snapshot();
        WorkThread thread;
        const JobOutcome outcome = runJob(thread, host.slavePathW());
        ASSERT_EQ(outcome.signalCount(), 1);
        EXPECT_EQ(outcome.text(), job_messages::foreignSystem());
        EXPECT_EQ(outcome.code(), 255);
        EXPECT_EQ(thread.result().outcome, RunOutcome::OtherSystem) << "255 here is a foreign station, no failure";
        EXPECT_TRUE(romWrites(host.frames()).empty());
        EXPECT_EQ(host.snapshot().rom, before.rom);
        EXPECT_EQ(host.snapshot().restarts, 0);

        ASSERT_EQ(outcome.trace.size(), 19u + 13u);
        EXPECT_EQ(std::vector<std::string>(outcome.trace.begin(), outcome.trace.begin() + 19), expectedDump(before));
        EXPECT_EQ(outcome.trace[22], "system_cod: " + std::to_string(c.system) + ", ch_delta[0]: 0");
        EXPECT_EQ(outcome.trace[23], "Channel 0: " + std::to_string(c.channel0));
        EXPECT_EQ(outcome.trace[28], "New Params:");
        EXPECT_EQ(outcome.trace.back(), "20 BC 63 02 11 70 C7 01 01 00 00 00 00 00 00 02 ");
        EXPECT_EQ(recordHead(), headOf(before));
    }
}

TEST_F(ProgramStationTest, IdentificationRefusalComesAfterTheDumpAndTheRecord) {
    struct Case {
        std::uint8_t version, bandType;
        int code;
    };
    for (const Case c : {Case{0x00, 4, 6}, Case{0x81, 2, 7}}) {
        SCOPED_TRACE(c.code);
        sim::DefaultStationOptions options;
        options.version = c.version;
        options.bandType = c.bandType;
        sim::PtyStationHost host(sim::makeDefaultStation(options));
        ASSERT_TRUE(host.start());
        const sim::StationModel before = host.snapshot();
        WorkThread thread;
        const JobOutcome outcome = runJob(thread, host.slavePathW());
        ASSERT_EQ(outcome.signalCount(), 1);
        EXPECT_EQ(outcome.text(), job_messages::noAnswer());
        EXPECT_EQ(outcome.code(), c.code);
        std::vector<std::string> expected = expectedDump(before);
        if (c.code == 7)   // the operator is told which value the plan does not cover
            expected.push_back("Unsupported station: the frequency plan does not cover band type 2 at RAM 0x0B01 in "
                               "frequency range 1 (it covers band 3 or 4)");
        EXPECT_EQ(outcome.trace, expected);
        EXPECT_EQ(recordHead(), headOf(before));
        EXPECT_TRUE(romWrites(host.frames()).empty());
    }
}

TEST_F(ProgramStationTest, SilentStationEndsBeforeAnyTraceAndLeavesTheRecord) {
    sim::PtyStationHost host;
    ASSERT_TRUE(host.start());
    sim::FaultScript silent;
    silent.powerLostFrom(0);
    host.setFaults(silent);
    ParamHead marker;
    marker.fill(0xEE);

    WorkThread thread;
    const JobOutcome outcome = runJob(thread, host.slavePathW());
    ASSERT_EQ(outcome.signalCount(), 1);
    EXPECT_EQ(outcome.code(), -1);
    EXPECT_TRUE(outcome.trace.empty());
    EXPECT_EQ(recordHead(), marker);
}

// A failure in the middle of the three writes leaves what was written before
// it; the system code goes last, so the station still reads as 0x9E and a
// later run finishes the move.
TEST_F(ProgramStationTest, FailedWritesLeaveTheStationResumable) {
    sim::PtyStationHost host;
    ASSERT_TRUE(host.start());
    const sim::StationModel original = host.snapshot();
    const Bytes newTable{0x6E, 0x07, 0xF5, 0x01, 0xF6, 0x01, 0xF7, 0x01,
                         0xF8, 0x01, 0xF9, 0x01, 0xFA, 0x01, 0xFB, 0x01};
    const Bytes newBlock{0x20, 0xBC, 0x63, 0x02, 0x11, 0x70, 0xC7, 0x01, 0x01, 0, 0, 0, 0, 0, 0, 0x02};
    constexpr int kFirstWrite = 17;   // exchanges 0..16 are the reads of a run
    WorkThread thread;

    auto failWrite = [&](int write) {
        const int base = host.exchangeCount();
        sim::FaultScript script;
        // Both attempts of that write are refused.
        script.at(base + kFirstWrite + write, sim::Fault::withStatus(2));
        script.at(base + kFirstWrite + write + 1, sim::Fault::withStatus(2));
        host.setFaults(script);
        const JobOutcome outcome = runJob(thread, host.slavePathW());
        EXPECT_EQ(outcome.signalCount(), 1);
        EXPECT_EQ(outcome.code(), -2);
        host.setFaults(sim::FaultScript());
        return host.snapshot();
    };

    {
        SCOPED_TRACE("first write");
        const sim::StationModel m = failWrite(0);
        EXPECT_EQ(m.rom, original.rom);
        EXPECT_EQ(m.restarts, 0);
    }
    {
        SCOPED_TRACE("second write");
        const sim::StationModel m = failWrite(1);
        EXPECT_EQ(romBytes(m, 0xC00C, 16), newTable);
        EXPECT_EQ(romBytes(m, 0xC080, 16), romBytes(original, 0xC080, 16));
        EXPECT_EQ(m.rom[0xC004], 0x9E);
        EXPECT_EQ(m.restarts, 0);
    }
    {
        SCOPED_TRACE("third write");
        const sim::StationModel m = failWrite(2);
        EXPECT_EQ(romBytes(m, 0xC00C, 16), newTable);
        EXPECT_EQ(romBytes(m, 0xC080, 16), newBlock);
        EXPECT_EQ(m.rom[0xC004], 0x9E);
        EXPECT_EQ(m.restarts, 0);
    }

    // The station reads 1902 already but is still 0x9E: programmed again.
    host.clearFrames();
    const JobOutcome last = runJob(thread, host.slavePathW());
    ASSERT_EQ(last.signalCount(), 1);
    EXPECT_EQ(last.moved, 1);
    ASSERT_TRUE(host.waitForRestarts(1, std::chrono::seconds(10)));
    const sim::StationModel m = host.snapshot();
    EXPECT_EQ(romBytes(m, 0xC00C, 16), newTable);
    EXPECT_EQ(romBytes(m, 0xC080, 16), newBlock);
    EXPECT_EQ(m.rom[0xC004], 0x3A);
    EXPECT_EQ(m.restarts, 1);
    EXPECT_EQ(romWrites(host.frames()).size(), 3u);
}

// Every read of the dump and every write has a second attempt: a station
// that refuses once at any of them is still moved, with each region written
// exactly as it would have been.
TEST_F(ProgramStationTest, ASingleRefusalAtAnyDumpReadOrWriteIsRetried) {
    sim::PtyStationHost host;
    ASSERT_TRUE(host.start());
    // Exchanges of an undisturbed run: 0 head, 1..8 dump, 9..16
    // identification, 17..19 writes, 20 restart. Each refusal below shifts the
    // rest by the one retry it causes.
    sim::FaultScript script;
    script.at(1, sim::Fault::withStatus(2));    // first dump chunk
    script.at(9, sim::Fault::badCrc());         // last dump chunk
    script.at(19, sim::Fault::withStatus(2));   // channel table
    script.at(21, sim::Fault::noReply());       // channel block 0
    script.at(23, sim::Fault::withStatus(2));   // system code
    host.setFaults(script);

    WorkThread thread;
    const JobOutcome outcome = runJob(thread, host.slavePathW());
    ASSERT_EQ(outcome.signalCount(), 1);
    EXPECT_EQ(outcome.moved, 1) << outcome.text().toStdString() << " " << outcome.code();
    ASSERT_TRUE(host.waitForRestarts(1, std::chrono::seconds(10)));

    const auto writes = romWrites(host.frames());
    ASSERT_EQ(writes.size(), 6u);   // each write twice, the same bytes both times
    for (std::size_t i = 0; i < writes.size(); i += 2) {
        EXPECT_EQ(writes[i].address, writes[i + 1].address);
        EXPECT_EQ(writes[i].data, writes[i + 1].data);
    }
    const sim::StationModel after = host.snapshot();
    EXPECT_EQ(after.rom[0xC004], 0x3A);
    EXPECT_EQ(romBytes(after, 0xC080, 16),
              (Bytes{0x20, 0xBC, 0x63, 0x02, 0x11, 0x70, 0xC7, 0x01, 0x01, 0, 0, 0, 0, 0, 0, 0x02}));
    EXPECT_EQ(after.restarts, 1);
    // The dump in the trace is the station's block, not a refused reply.
    ASSERT_GE(outcome.trace.size(), 19u);
    EXPECT_EQ(std::vector<std::string>(outcome.trace.begin(), outcome.trace.begin() + 19),
              expectedDump(sim::makeDefaultStation()));
}

// The plan gives a station without channel positions no block at all; the
// zeroed block must never reach its synthesiser.
TEST_F(ProgramStationTest, StationWithoutChannelPositionsIsNotWritten) {
    sim::PtyStationHost host(station(0x9E, 500, 0));
    ASSERT_TRUE(host.start());
    const sim::StationModel before = host.snapshot();
    WorkThread thread;
    bool hookCalled = false;
    thread.setBeforeFirstWrite([&](const std::uint8_t*) { hookCalled = true; });
    const JobOutcome outcome = runJob(thread, host.slavePathW());
    ASSERT_EQ(outcome.signalCount(), 1);
    EXPECT_EQ(outcome.text(), job_messages::foreignSystem());
    EXPECT_EQ(outcome.code(), 255);
    EXPECT_FALSE(hookCalled);
    EXPECT_TRUE(romWrites(host.frames()).empty());
    EXPECT_EQ(restartsSent(host.frames()), 0);
    EXPECT_EQ(host.snapshot().rom, before.rom);

    const std::string zeros = hexLine(std::vector<std::uint8_t>(16, 0).data(), 16);
    ASSERT_GE(outcome.trace.size(), 4u);
    const auto n = outcome.trace.size();
    EXPECT_EQ(outcome.trace[n - 4], zeros);   // no XTAL/Fout lines: no block
    EXPECT_EQ(outcome.trace[n - 3], std::string(43, '-'));
    EXPECT_EQ(outcome.trace[n - 2], "New Params:");
    EXPECT_EQ(outcome.trace[n - 1], zeros);
}

TEST_F(ProgramStationTest, AFailedBackupIsOneTraceLineAndTheMoveGoesOn) {
    // Without a log directory the backup cannot be saved.
    QDir home(QDir::homePath());
    ASSERT_TRUE(home.rename(QStringLiteral("QuelvintLog"), QStringLiteral("QuelvintLog.away")));
    sim::PtyStationHost host(station(0x9E, 500, 2));
    ASSERT_TRUE(host.start());
    WorkThread thread;
    const JobOutcome outcome = runJob(thread, host.slavePathW());
    ASSERT_TRUE(home.rename(QStringLiteral("QuelvintLog.away"), QStringLiteral("QuelvintLog")));

    EXPECT_EQ(outcome.moved, 1);
    ASSERT_FALSE(outcome.trace.empty());
    EXPECT_EQ(outcome.trace.back(), "Backup of the parameter block could not be saved: " +
                                        logDirectoryPath().toStdString() + " does not exist");
    EXPECT_EQ(std::count(outcome.trace.begin(), outcome.trace.end(), outcome.trace.back()), 1);
    EXPECT_EQ(host.snapshot().rom[0xC004], 0x3A);
}

// Stations whose present channel carries a fine offset, on a line paced at
// its byte rate, some echoing every request so that the echo and the reply
// come in apart: each is moved, its offset traced and counted in the present
// frequency, the new block written as always, and no byte sent outside a frame.
TEST_F(ProgramStationTest, FineOffsetsPacedLinesAndEchoesStillMoveTheStation) {
    const struct {
        std::uint8_t fineOffset;
        int baud;
        bool echo;
        const char* presentFout;
    } cases[] = {
        {3, 0, false, "Fout: 434.768750"},      // 434.75 + 3 x 0.00625
        {1, 57600, true, "Fout: 434.756250"},
        {255, 19200, true, "Fout: 436.343750"},  // 434.75 + 255 x 0.00625
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "offset " << int(c.fineOffset) << " baud " << c.baud << " echo " << c.echo);
        sim::DefaultStationOptions options;
        options.fineOffset = c.fineOffset;
        sim::PtyStationHost host(sim::makeDefaultStation(options));
        host.setPacing(c.baud);
        if (c.echo) {
            sim::FaultScript script;
            script.always(sim::Fault::echo());
            host.setFaults(script);
        }
        ASSERT_TRUE(host.start());
        WorkThread thread;
        const JobOutcome outcome = runJob(thread, host.slavePathW());
        ASSERT_EQ(outcome.signalCount(), 1);
        EXPECT_EQ(outcome.moved, 1) << outcome.text().toStdString();
        const auto traced = [&](const std::string& line) {
            return std::find(outcome.trace.begin(), outcome.trace.end(), line) != outcome.trace.end();
        };
        EXPECT_TRUE(traced("system_cod: 158, ch_delta[0]: " + std::to_string(c.fineOffset)));
        EXPECT_TRUE(traced(c.presentFout));
        const sim::StationModel after = host.snapshot();
        EXPECT_EQ(romBytes(after, 0xC080, 16),
                  (Bytes{0x20, 0xBC, 0x63, 0x02, 0x11, 0x70, 0xC7, 0x01, 0x01, 0, 0, 0, 0, 0, 0, 0x02}));
        EXPECT_EQ(after.rom[0xC004], 0x3A);
        EXPECT_EQ(host.strayBytes(), Bytes{});
    }
}

// A slow station still answering a 16-byte read of a client that was cut off
// (its RAM status, say): that reply, as long as the head, reaches the run's
// first request. The run must not take it for the station's head: the
// address, the record and the decision come from the station's own block.
TEST_F(ProgramStationTest, ALateReplyAsLongAsTheHeadIsNotTakenForIt) {
    sim::PtyStationHost host(station(0x9E, 500, 2));
    sim::FaultScript slow;
    slow.always(sim::Fault::delay(400));
    host.setFaults(slow);
    ASSERT_TRUE(host.start());
    const sim::StationModel before = host.snapshot();
    {
        SerialPort cutOff;
        ASSERT_TRUE(cutOff.open(host.slavePathW(), StationConnection::kBaudRate));
        const Bytes frame = sim::makeRequest(0x05, {0x08, 0x60, 0x10 | 0x80});   // 16 bytes of RAM at 0x0860
        ASSERT_TRUE(cutOff.write(frame.data(), static_cast<int>(frame.size())));
        ASSERT_TRUE(host.waitForFrames(1, std::chrono::seconds(5)));
    }

    WorkThread thread;
    const JobOutcome outcome = runJob(thread, host.slavePathW());
    EXPECT_EQ(outcome.moved, 1) << outcome.text().toStdString();
    EXPECT_EQ(recordHead(), headOf(before));
    EXPECT_EQ(thread.stationAddress(), blockAddress(before.rom.data() + 0xC000));
    EXPECT_EQ(std::count(outcome.trace.begin(), outcome.trace.end(),
                         "The head read did not match the block read after it; reading the head again."),
              1);
}

// The adapter is pulled while the station stores what it was sent: the
// restart cannot go out, so the station keeps running its old settings and
// the run must not end as a move.
TEST_F(ProgramStationTest, ARestartThatCannotBeSentIsNoSuccess) {
    sim::PtyStationHost host(station(0x9E, 500, 2));
    ASSERT_TRUE(host.start());
    WorkThread thread;
    thread.setPhaseObserver([&](JobPhase phase) {
        if (phase == JobPhase::Restarting) host.stop();
    });
    const JobOutcome outcome = runJob(thread, host.slavePathW());
    EXPECT_EQ(outcome.moved, 0);
    EXPECT_EQ(outcome.code(), job_messages::kCodeRestartNotSent);
    EXPECT_EQ(outcome.text(), job_messages::noAnswer());
    EXPECT_EQ(restartsSent(host.frames()), 0);
}

// The head read again after a mismatch gets another late reply of its
// length: nothing tells which of the three is the station's, so the run
// ends as no answer before anything is written.
TEST_F(ProgramStationTest, AHeadThatTwiceIsNotTheBlocksFirstBytesEndsTheRunUnwritten) {
    sim::PtyStationHost host(station(0x9E, 500, 2));
    sim::FaultScript stale;
    stale.at(0, sim::Fault::staleRead(0x80));   // the head; 1 to 8 read the block
    stale.at(9, sim::Fault::staleRead(0x80));   // the head again
    host.setFaults(stale);
    ASSERT_TRUE(host.start());
    WorkThread thread;
    const JobOutcome outcome = runJob(thread, host.slavePathW());
    EXPECT_EQ(outcome.moved, 0);
    EXPECT_EQ(outcome.code(), -1);
    EXPECT_EQ(std::count(outcome.trace.begin(), outcome.trace.end(),
                         "The head read did not match the block read after it; reading the head again."),
              1);
    EXPECT_TRUE(romWrites(host.frames()).empty());
    EXPECT_EQ(restartsSent(host.frames()), 0);
}

// The adapter is pulled mid-run: before the first write the run ends at once
// as a lost port (not as a silent station, nothing written); from the first
// write on as partly written.
TEST_F(ProgramStationTest, APortLostMidRunEndsAsPortLostBeforeTheWritesAndPartlyWrittenAfter) {
    struct Case {
        const char* what;
        JobPhase stopAt;
        RunOutcome outcome;
    };
    for (const Case& c : {Case{"reading", JobPhase::Reading, RunOutcome::PortLost},
                          Case{"writing", JobPhase::Writing, RunOutcome::PartlyWritten}}) {
        sim::PtyStationHost host(station(0x9E, 500, 2));
        ASSERT_TRUE(host.start());
        WorkThread thread;
        thread.setPhaseObserver([&](JobPhase phase) {
            if (phase == c.stopAt) host.stop();
        });
        const JobOutcome outcome = runJob(thread, host.slavePathW());
        EXPECT_EQ(thread.result().outcome, c.outcome) << c.what;
        EXPECT_EQ(outcome.moved, 0) << c.what;
        if (c.outcome == RunOutcome::PortLost) {
            EXPECT_EQ(outcome.code(), job_messages::kCodePortLost);
            EXPECT_EQ(outcome.text(), job_messages::portLost());
        }
    }
}

// What the window keeps the session alive by: the run says when its write
// phase begins and when it is over, and is "writing" in between only.
TEST_F(ProgramStationTest, TheWritePhaseIsAnnouncedAndOverOnlyOnceTheRunHasEnded) {
    for (const bool writes : {true, false}) {
        sim::PtyStationHost host(station(writes ? 0x9E : 0x3A, writes ? 500 : 1902, 2));
        ASSERT_TRUE(host.start());
        WorkThread thread;
        std::vector<std::pair<JobPhase, bool>> seen;   // the phase and writing() on entering it
        thread.setPhaseObserver([&](JobPhase phase) { seen.emplace_back(phase, thread.writing()); });
        QSignalSpy announced(&thread, &WorkThread::writePhaseChanged);
        runJob(thread, host.slavePathW());
        std::vector<bool> changes;
        for (const QList<QVariant>& args : announced) changes.push_back(args.at(0).toBool());
        const std::vector<bool> expected = writes ? std::vector<bool>{true, false} : std::vector<bool>{};
        EXPECT_EQ(changes, expected);
        for (const auto& [phase, writing] : seen) {
            if (phase == JobPhase::Writing) continue;   // entered before the first write and again after the read-back
            EXPECT_EQ(writing, writes && (phase == JobPhase::Verifying || phase == JobPhase::Restarting))
                << static_cast<int>(phase);
        }
        EXPECT_FALSE(thread.writing());
    }
}
