// Backups of the parameter block and putting them back on a station.
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>

#include "JobRun.h"
#include "LogDirectory.h"
#include "StationBackup.h"
#include "StationConnection.h"
#include "StationRestore.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

QByteArray fileBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray asBytes(const Bytes& b) { return QByteArray(reinterpret_cast<const char*>(b.data()), int(b.size())); }

Bytes paramBlock(const sim::StationModel& m) { return Bytes(m.rom.begin() + 0xC000, m.rom.begin() + 0xC100); }

}  // namespace

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
    restoreStation(connection, backup.data());
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
