#include "StationRestore.h"

#include <QCryptographicHash>

#include "LineFacts.h"
#include "MoveTarget.h"
#include "StationBackup.h"
#include "StationConnection.h"
#include "StationMemory.h"

namespace {

constexpr std::uint16_t kBlockChunk = 32;
constexpr int kBlockReadAttempts = line::kAttempts;

bool rewrittenByAMove(int offset) {
    for (const ParamRegion& region : kChangedRegions)
        if (offset >= region.offset() && offset < region.offset() + region.count) return true;
    return false;
}

}  // namespace

void restoreStation(StationConnection& connection, const std::uint8_t* block256, ChangeWritesResult* result) {
    const ChangeWrites writes{block256 + kChannelTableRegion.offset(), block256 + kChannelBlock0Region.offset(),
                              blockSystemCode(block256), true, nullptr, nullptr};
    writeChanges(connection, writes, result);
}

void readWholeBlock(StationConnection& connection, std::uint8_t* block256, const BlockReadSteps& steps) {
    for (int offset = 0; offset < kParamBlockSize; offset += kBlockChunk) {
        if (steps.beforeChunk) steps.beforeChunk();
        connection.readRom16(paramAddress(offset), kBlockChunk, block256 + offset, kBlockReadAttempts);
        if (steps.afterChunk) steps.afterChunk(paramAddress(offset), block256 + offset, kBlockChunk);
    }
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
