// Backups of the parameter block and putting them back on a station.
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <thread>

#include "JobMessages.h"
#include "JobRun.h"
#include "LogDirectory.h"
#include "MoveTarget.h"
#include "StationBackup.h"
#include "StationConnection.h"
#include "StationRestore.h"
#include "SimStation.h"
#include "TempHome.h"

TEST(StationBackupTest, NamesTheFileAfterTimeAddressAndSystemAndNeverReplacesOne) {
    Bytes first(256);
    std::iota(first.begin(), first.end(), 0);
    first[2] = 0x23;   // address 0x0123 = 291, little-endian
    first[3] = 0x01;
    first[4] = 0x9E;
    Bytes second = first;
    second[0x80] ^= 0xFF;
    const QDateTime when(QDate(2026, 12, 8), QTime(10, 51, 14));

    const QString path1 = saveStationBackup(first.data(), when);
    const QString path2 = saveStationBackup(second.data(), when);
    EXPECT_EQ(path1, logDirectoryPath() + QStringLiteral("/backups/261208-105114_291_158.bin"));
    EXPECT_EQ(path2, logDirectoryPath() + QStringLiteral("/backups/261208-105114_291_158-2.bin"));
    EXPECT_EQ(fileBytes(path1), asBytes(first));
    EXPECT_EQ(fileBytes(path2), asBytes(second));
    QFile::remove(path1);
    QFile::remove(path2);
}

TEST(StationRestoreTest, WritesTheThreeRegionsInOrderAndRestartsAfterTheSettle) {
    const sim::StationModel original = sim::makeDefaultStation();
    const Bytes backup = paramBlock(original);
    sim::StationModel moved = original;
    std::fill_n(moved.rom.begin() + 0xC00C, 16, 0x11);
    std::fill_n(moved.rom.begin() + 0xC080, 16, 0x22);
    moved.rom[0xC004] = 0x3A;
    moved.rom[0xC0F0] = 0x5A;   // outside the three regions: left as it is

    sim::PtyStationHost host(moved);
    ASSERT_TRUE(host.start());
    StationConnection connection;
    ASSERT_TRUE(connection.open(host.slavePathW()));
    ChangeWritesResult result;
    restoreStation(connection, backup.data(), &result);
    EXPECT_TRUE(result.mismatches.isEmpty()) << result.mismatches.join('\n').toStdString();
    EXPECT_EQ(result.verify, VerifyResult::Passed);
    ASSERT_TRUE(host.waitForRestarts(1, std::chrono::seconds(10)));
    connection.close();

    const auto frames = host.frames();
    const auto writes = romWrites(frames);
    ASSERT_EQ(writes.size(), 3u);
    EXPECT_EQ(writes[0].address, 0xC00C);
    EXPECT_EQ(writes[0].data, Bytes(backup.begin() + 0x0C, backup.begin() + 0x1C));
    EXPECT_EQ(writes[1].address, 0xC080);
    EXPECT_EQ(writes[1].data, Bytes(backup.begin() + 0x80, backup.begin() + 0x90));
    EXPECT_EQ(writes[2].address, 0xC004);
    EXPECT_EQ(writes[2].data, Bytes{0x9E});
    ASSERT_GE(frames.size(), 2u);
    EXPECT_EQ(frames.back().bytes.at(2), 0xDD);
    EXPECT_GE(frames.back().time - frames[frames.size() - 2].time, std::chrono::milliseconds(2000));

    Bytes expected = backup;
    expected[0xF0] = 0x5A;
    EXPECT_EQ(paramBlock(host.snapshot()), expected);
    EXPECT_EQ(host.snapshot().restarts, 1);
}

// Runs started in the same second on stations of one address: the exclusive
// create, not a look beforehand, hands out the names.
TEST(StationBackupTest, ParallelSavesEachGetAFileOfTheirOwn) {
    constexpr int kSavers = 8;
    const QDateTime when(QDate(2026, 12, 9), QTime(1, 2, 3));
    std::vector<Bytes> blocks(kSavers, Bytes(256, 0));
    std::vector<QString> paths(kSavers);
    std::vector<std::thread> savers;
    for (int i = 0; i < kSavers; ++i) {
        blocks[i][2] = 0x42;
        blocks[i][4] = 0x3A;   // moved: no original involved here
        blocks[i][0xF0] = static_cast<std::uint8_t>(i);
        savers.emplace_back([&, i] { paths[i] = saveStationBackup(blocks[i].data(), when); });
    }
    for (std::thread& t : savers) t.join();
    for (int i = 0; i < kSavers; ++i) {
        EXPECT_FALSE(paths[i].isEmpty()) << i;
        EXPECT_EQ(fileBytes(paths[i]), asBytes(blocks[i])) << i;
        QFile::remove(paths[i]);
    }
}

TEST(StationBackupTest, TheFirstBackupOfAnUnmovedBlockIsKeptAsTheOriginal) {
    const auto block = [](std::uint16_t address, std::uint8_t system, std::uint16_t channel0, std::uint8_t mark) {
        Bytes b(256, mark);
        b[2] = static_cast<std::uint8_t>(address);
        b[3] = static_cast<std::uint8_t>(address >> 8);
        b[4] = system;
        b[0x0C] = static_cast<std::uint8_t>(channel0);
        b[0x0D] = static_cast<std::uint8_t>(channel0 >> 8);
        return b;
    };
    const QDateTime when(QDate(2026, 12, 9), QTime(4, 5, 6));
    const Bytes first = block(700, 0x9E, 500, 1);
    const Bytes namesake = block(700, 0x9E, 500, 5);   // another station with address 700
    const QString firstName = originalBackupPath(700);
    const QString namesakeName = firstName.chopped(4) + QStringLiteral("-2.bin");
    const struct {
        const char* what;
        Bytes saved;
        QString originalName;  // the original found for the saved block; empty: none
        QByteArray original;
    } cases[] = {
        {"first unmoved block", first, firstName, asBytes(first)},
        {"a later unmoved block of the station never replaces it", block(700, 0x9E, 600, 1), firstName,
         asBytes(first)},
        {"another station with the address gets its own", namesake, namesakeName, asBytes(namesake)},
        {"and keeps it", block(700, 0x9E, 700, 5), namesakeName, asBytes(namesake)},
        {"half-moved: table already at 1902", block(701, 0x9E, 1902, 3), QString(), QByteArray()},
        {"moved", block(702, 0x3A, 1902, 4), QString(), QByteArray()},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(saveStationBackup(c.saved.data(), when).isEmpty()) << c.what;
        const QString found = originalBackupFor(c.saved.data());
        EXPECT_EQ(found, c.originalName) << c.what;
        EXPECT_EQ(fileBytes(found), c.original) << c.what;
    }
    EXPECT_EQ(fileBytes(firstName), asBytes(first));
    QDir(logDirectoryPath() + QStringLiteral("/backups")).removeRecursively();
}

// A block that differs everywhere: only the bytes a move and a restore do
// not rewrite count, up to the first and last byte of each rewritten region.
TEST(StationRestoreTest, OnlyBytesOutsideTheRewrittenRegionsTellStationsApart) {
    const Bytes station(256, 0x00);
    const Bytes backup(256, 0xFF);
    const std::vector<int> differing = untouchedDifferences(backup.data(), station.data());
    const auto has = [&](int offset) { return std::count(differing.begin(), differing.end(), offset) == 1; };
    EXPECT_EQ(differing.size(), 256u - 1 - 16 - 16);
    EXPECT_TRUE(std::is_sorted(differing.begin(), differing.end()));
    for (int outside : {0x00, 0x03, 0x05, 0x0B, 0x1C, 0x7F, 0x90, 0xFF}) EXPECT_TRUE(has(outside)) << outside;
    for (int rewritten : {0x04, 0x0C, 0x1B, 0x80, 0x8F}) EXPECT_FALSE(has(rewritten)) << rewritten;
    EXPECT_TRUE(untouchedDifferences(station.data(), station.data()).empty());

    // The setup's fingerprint follows the same bytes: a move leaves it, a
    // namesake's own setup changes it.
    Bytes moved = station;
    moved[0x04] = 0x3A;
    moved[0x0C] = 0x6E;
    moved[0x8F] = 0x02;
    Bytes namesake = station;
    namesake[0xF0] = 0x01;
    EXPECT_EQ(setupFingerprint(station.data()).size(), kSetupFingerprintDigits);
    EXPECT_EQ(setupFingerprint(moved.data()), setupFingerprint(station.data()));
    EXPECT_NE(setupFingerprint(namesake.data()), setupFingerprint(station.data()));
}

// The one read of the whole block: 32 bytes at a time in address order, each
// handed on as it comes; a step that throws before a read ends it there.
TEST(StationRestoreTest, TheBlockIsReadInChunksThatAStepCanStopBeforeTheirRead) {
    const struct {
        const char* what;
        int stopBefore;   // the chunk whose step throws; -1 none
        int chunksRead;
    } cases[] = {{"whole", -1, 8}, {"stopped at once", 0, 0}, {"stopped before the fourth", 3, 3}};
    for (const auto& c : cases) {
        sim::PtyStationHost host;
        ASSERT_TRUE(host.start());
        StationConnection connection;
        ASSERT_TRUE(connection.open(host.slavePathW()));
        int steps = 0;
        std::vector<std::uint32_t> addresses;
        Bytes handedOn;
        const BlockReadSteps hooks{[&] {
                                       if (steps++ == c.stopBefore) throw job_messages::kCodeStopped;
                                   },
                                   [&](std::uint32_t address, const std::uint8_t* chunk, std::uint16_t count) {
                                       addresses.push_back(address);
                                       handedOn.insert(handedOn.end(), chunk, chunk + count);
                                   }};
        std::uint8_t block[256] = {};
        int code = 0;
        try {
            readWholeBlock(connection, block, hooks);
        } catch (int thrown) {
            code = thrown;
        }
        connection.close();
        EXPECT_EQ(code, c.stopBefore < 0 ? 0 : job_messages::kCodeStopped) << c.what;
        std::vector<std::uint32_t> expectedAddresses;
        for (int i = 0; i < c.chunksRead; ++i) expectedAddresses.push_back(0xC000 + 32u * static_cast<unsigned>(i));
        EXPECT_EQ(addresses, expectedAddresses) << c.what;
        const Bytes station = paramBlock(host.snapshot());
        EXPECT_EQ(handedOn, Bytes(station.begin(), station.begin() + 32 * c.chunksRead)) << c.what;
        EXPECT_EQ(Bytes(block, block + 32 * c.chunksRead), handedOn) << c.what;
        int readsSent = 0;
        for (const auto& f : host.frames())
            readsSent += f.direction == sim::WireFrame::Direction::ToStation && f.bytes.size() > 2 && f.bytes[2] == 0x05;
        EXPECT_EQ(readsSent, c.chunksRead) << c.what;
    }
}

// The adapter is pulled once the station has taken the system code back:
// the restart cannot go out, so the station runs its moved settings with the
// old ones in memory, and the restore must not end as done, whether the
// line went before the system code's read-back or after its reply.
TEST(StationRestoreTest, ARestartThatCannotBeSentIsNoSuccess) {
    const sim::StationModel original = sim::makeDefaultStation();
    sim::StationModel moved = original;
    moved.rom[0xC004] = 0x3A;
    const struct {
        const char* what;
        std::uint8_t afterCommand;   // the request after which the line goes
        int afterBytes;              // once this much of its reply is in
        QStringList unchecked;       // said with the outcome
    } cases[] = {
        {"after the write's acknowledgement (AD 00 00 and its CRC)", 0x06, 5, {"read back 0xC004: no answer"}},
        {"after the read-back's reply (AD 01 00 9E and its CRC)", 0x05, 6, {}},
    };
    for (const auto& c : cases) {
        sim::PtyStationHost host(moved);
        ASSERT_TRUE(host.start());
        StationConnection connection;
        ASSERT_TRUE(connection.open(host.slavePathW()));
        bool systemCodeSent = false;
        bool watched = false;
        int received = 0;
        connection.serialPort().setWireObserver([&](WireDirection d, const std::uint8_t* bytes, int count) {
            if (d == WireDirection::Sent && count > 4 && bytes[3] == 0xC0 && bytes[4] == 0x04) {
                systemCodeSent = systemCodeSent || bytes[2] == 0x06;
                watched = systemCodeSent && bytes[2] == c.afterCommand;
                received = 0;
            }
            if (d == WireDirection::Received && watched && (received += count) >= c.afterBytes) host.stop();
        });
        const Bytes backup = paramBlock(original);
        int code = 0;
        ChangeWritesResult result;
        try {
            restoreStation(connection, backup.data(), &result);
        } catch (int thrown) {
            code = thrown;
        }
        connection.serialPort().setWireObserver(nullptr);
        connection.close();
        EXPECT_EQ(code, job_messages::kCodeRestartNotSent) << c.what;
        EXPECT_EQ(result.mismatches, c.unchecked) << c.what;
        EXPECT_FALSE(result.partlyWritten) << c.what << ": everything was written";
        EXPECT_EQ(host.snapshot().rom[0xC004], 0x9E) << c.what << ": the system code was written back";
        EXPECT_EQ(restartsSent(host.frames()), 0) << c.what;
    }
}

// The link breaking off during a restore's writes, and an acknowledgement of
// the system code that never arrives whole: 0xC004 read back tells whether
// the station took it, as for a move.
TEST(StationRestoreTest, ALinkLostDuringTheWritesLeavesItPartlyWrittenUnlessTheSystemCodeReadsBack) {
    const sim::StationModel original = sim::makeDefaultStation();
    sim::StationModel moved = original;
    moved.rom[0xC004] = 0x3A;
    // Exchanges: 0 table, 1 block 0, 2 and 3 their read-back, 4 the system
    // code (5 its second attempt).
    const auto onSystemCodeWrite = [](sim::Fault fault) {
        sim::FaultScript script;
        script.at(4, fault);
        script.at(5, fault);
        return script;
    };
    const auto lostFrom = [](int exchange) {
        sim::FaultScript script;
        script.powerLostFrom(exchange);
        return script;
    };
    const struct {
        const char* what;
        sim::FaultScript faults;
        bool fails;
        bool partlyWritten;
        bool ackLost;
        std::uint8_t systemAfter;
    } cases[] = {
        {"lost after the table", lostFrom(1), true, true, false, 0x3A},
        {"lost at the system code", lostFrom(4), true, true, false, 0x3A},
        {"system code kept, replies damaged", onSystemCodeWrite(sim::Fault::badCrc()), false, false, true, 0x9E},
        {"system code not kept, no replies", onSystemCodeWrite(sim::Fault::noReply()), true, true, false, 0x3A},
    };
    for (const auto& c : cases) {
        sim::PtyStationHost host(moved);
        host.setFaults(c.faults);
        ASSERT_TRUE(host.start()) << c.what;
        StationConnection connection;
        ASSERT_TRUE(connection.open(host.slavePathW())) << c.what;
        ChangeWritesResult result;
        bool failed = false;
        try {
            restoreStation(connection, paramBlock(original).data(), &result);
        } catch (int) {
            failed = true;
        }
        EXPECT_EQ(failed, c.fails) << c.what;
        EXPECT_EQ(result.partlyWritten, c.partlyWritten) << c.what;
        EXPECT_EQ(result.systemCodeAckLost, c.ackLost) << c.what;
        if (!c.fails) {
            ASSERT_TRUE(host.waitForRestarts(1, std::chrono::seconds(10))) << c.what;
            EXPECT_EQ(result.verify, VerifyResult::Passed) << c.what;
        }
        connection.close();
        EXPECT_EQ(host.snapshot().rom[0xC004], c.systemAfter) << c.what;
        EXPECT_EQ(restartsSent(host.frames()), c.fails ? 0 : 1) << c.what;
    }
}

// Without a home directory (HOME unset or empty) the home would be taken for
// "/": no backup is kept there, and the reason names HOME, so a run that
// needs its backup writes nothing.
TEST(StationBackupTest, NoHomeDirectoryKeepsNoBackupAndSaysWhy) {
    Bytes block(256);
    block[4] = 0x9E;
    const QByteArray savedHome = qgetenv("HOME");
    const bool rootLogBefore = QDir(QDir::rootPath()).exists(QStringLiteral("QuelvintLog"));
    for (const char* home : std::initializer_list<const char*>{"", nullptr}) {
        if (home) qputenv("HOME", home);
        else qunsetenv("HOME");
        ensureLogDirectory();
        QString error;
        const QString path = saveStationBackup(block.data(), QDateTime::currentDateTime(), &error);
        qputenv("HOME", savedHome);
        EXPECT_TRUE(path.isEmpty()) << path.toStdString();
        EXPECT_TRUE(error.contains(QLatin1String("HOME"))) << error.toStdString();
    }
    EXPECT_EQ(QDir(QDir::rootPath()).exists(QStringLiteral("QuelvintLog")), rootLogBefore) << "made in /";
}
