#include "StationRestore.h"

#include <QCryptographicHash>
#include <QThread>

#include "ChangedRegions.h"
#include "JobMessages.h"
#include "ReadBack.h"
#include "StationBackup.h"
#include "StationConnection.h"

namespace {

bool rewrittenByAMove(int offset) {
    for (const ParamRegion& region : kChangedRegions)
        if (offset >= region.offset() && offset < region.offset() + region.count) return true;
    return false;
}

void writeRegion(StationConnection& connection, const ParamRegion& region, const std::uint8_t* block256) {
    connection.writeRom16(region.address, region.count, block256 + region.offset(), kWriteAttempts);
}

void readBack(StationConnection& connection, const ParamRegion& region, const std::uint8_t* block256,
              QStringList* mismatches) {
    readBackRegion(connection, region.address, region.count, block256 + region.offset(), mismatches);
}

}  // namespace

void restoreStation(StationConnection& connection, const std::uint8_t* block256, QStringList* mismatches) {
    mismatches->clear();
    writeRegion(connection, kChannelTableRegion, block256);
    writeRegion(connection, kChannelBlock0Region, block256);
    readBack(connection, kChannelTableRegion, block256, mismatches);
    readBack(connection, kChannelBlock0Region, block256, mismatches);
    if (!mismatches->isEmpty()) throw job_messages::kCodeVerifyMismatch;
    writeRegion(connection, kSystemCodeRegion, block256);
    // Acknowledged: a restart must follow even when the read-back gets no
    // answer, or the station would run its present settings with the
    // restored system code in memory.
    bool unconfirmed = false;
    try {
        readBack(connection, kSystemCodeRegion, block256, mismatches);
    } catch (int) {
        unconfirmed = true;
    }
    if (!mismatches->isEmpty()) throw job_messages::kCodeVerifyMismatch;
    QThread::msleep(kSettleBeforeRestartMs);
    if (!connection.sendRestart()) {
        // Nothing but the outcome would say the system code went unchecked.
        if (unconfirmed)
            mismatches->append(QStringLiteral("read back 0x%1: no answer")
                                   .arg(QString::number(kSystemCodeRegion.address, 16).toUpper()));
        throw job_messages::kCodeRestartNotSent;
    }
    if (unconfirmed) throw job_messages::kCodeSystemCodeUnconfirmed;
}

void readWholeBlock(StationConnection& connection, std::uint8_t* block256) {
    constexpr int kChunk = 32;
    constexpr int kAttempts = 2;
    for (int offset = 0; offset < 256; offset += kChunk)
        connection.readRom16(kParamBlockAddress + static_cast<std::uint32_t>(offset), kChunk, block256 + offset,
                             kAttempts);
}

std::vector<int> untouchedDifferences(const std::uint8_t* backup256, const std::uint8_t* station256) {
    std::vector<int> offsets;
    for (int offset = 0; offset < kParamBlockSize; ++offset)
        if (backup256[offset] != station256[offset] && !rewrittenByAMove(offset)) offsets.push_back(offset);
    return offsets;
}

QString setupFingerprint(const std::uint8_t* block256) {
    QByteArray setup;
    for (int offset = 0; offset < kParamBlockSize; ++offset)
        if (!rewrittenByAMove(offset)) setup.append(static_cast<char>(block256[offset]));
    const QByteArray digest = QCryptographicHash::hash(setup, QCryptographicHash::Sha1);
    return QString::fromLatin1(digest.toHex().left(kSetupFingerprintDigits));
}
