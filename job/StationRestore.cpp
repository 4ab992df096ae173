#include "StationRestore.h"

#include <QCryptographicHash>

#include "ChangedRegions.h"
#include "StationBackup.h"
#include "StationConnection.h"

namespace {

bool rewrittenByAMove(int offset) {
    for (const ParamRegion& region : kChangedRegions)
        if (offset >= region.offset() && offset < region.offset() + region.count) return true;
    return false;
}

}  // namespace

void restoreStation(StationConnection& connection, const std::uint8_t* block256, ChangeWritesResult* result) {
    const ChangeWrites writes{block256 + kChannelTableRegion.offset(), block256 + kChannelBlock0Region.offset(),
                              block256[kSystemCodeRegion.offset()], true, nullptr, nullptr};
    writeChanges(connection, writes, result);
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
