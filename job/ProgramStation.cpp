// Moves a station of system 0x9E to channel 1902 (fine offset 2) and marks it
// as a station of system 0x3A. Every failure leaves as the link's int code.

#include <QDateTime>
#include <QThread>
#include <cstdio>
#include <cstring>

#include "ChangedRegions.h"
#include "StationBackup.h"
#include "FrequencyPlan.h"
#include "JobMessages.h"
#include "ReadBack.h"
#include "StationRecord.h"
#include "Trace.h"
#include "WorkThread.h"

namespace {

constexpr std::uint16_t kHeadBytes = 16;
constexpr std::uint16_t kDumpChunk = 32;
constexpr int kDumpChunks = 8;
constexpr int kReadAttempts = 2;

constexpr std::uint8_t kSourceSystemCode = 0x9E;
constexpr std::uint8_t kTargetSystemCode = 0x3A;
constexpr std::uint16_t kTargetChannel = 1902;
constexpr std::uint8_t kTargetDelta = 2;

void packChannelTable(const StationSettings& settings, std::uint8_t* table16) {
    for (std::size_t i = 0; i < settings.channel.size(); ++i) {
        table16[2 * i] = static_cast<std::uint8_t>(settings.channel[i] & 0xFF);
        table16[2 * i + 1] = static_cast<std::uint8_t>(settings.channel[i] >> 8);
    }
}

}  // namespace

void WorkThread::readHead(std::uint8_t* head) {
    connection_.readRom16(kParamBlockAddress, kHeadBytes, head, kReadAttempts);
    stationAddress_ = blockAddress(head);
    dumpHex(head, kHeadBytes, ' ');
    if (StationRecord* record = StationRecord::instance()) record->setParams(head);
    if (addressObserver_) addressObserver_(stationAddress_);
}

void WorkThread::resetRunResults() {
    verifyMismatches_.clear();
    verifyResult_ = VerifyResult::NotRun;
    backupPath_.clear();
    backupError_.clear();
    originalError_.clear();
    stationAddress_ = -1;
}

// The whole block as read in this run, so the operator can put the station
// back. Without one the window goes on (the trace says so); a run that asked
// for a backup stops here, before anything is written.
void WorkThread::keepBackup() {
    if (backupPolicy_ == BackupPolicy::Off) {
        traceStream() << "No backup of the parameter block kept (turned off)." << std::endl;
        return;
    }
    backupPath_ = saveStationBackup(deviceParams_.data(), QDateTime::currentDateTime(), &backupError_,
                                    &originalError_);
    if (!originalError_.isEmpty())
        traceStream() << "The original of the parameter block could not be kept (" << originalError_.toStdString()
                      << "); going on with the backup " << backupPath_.toStdString() << std::endl;
    if (!backupPath_.isEmpty()) return;
    traceStream() << "Backup of the parameter block could not be saved." << std::endl;
    if (backupPolicy_ == BackupPolicy::Required) throw job_messages::kCodeBackupNotSaved;
}

void WorkThread::verifyRegion(std::uint16_t address, int count, const std::uint8_t* written) {
    readBackRegion(connection_, address, count, written, &verifyMismatches_);
}

void WorkThread::stopOnMismatch() {
    if (verifyMismatches_.isEmpty()) return;
    verifyResult_ = VerifyResult::Failed;
    throw job_messages::kCodeVerifyMismatch;
}

// Channel table, block 0, then the system code: with the read-back on, the
// system code is sent only once the other two are known to be in place, so a
// station that keeps no writes stays a 0x9E station that a re-run can move.
void WorkThread::moveStation(const std::uint8_t* table, const std::uint8_t* block) {
    const std::uint8_t systemCode = kTargetSystemCode;
    enterPhase(JobPhase::Writing);
    connection_.writeRom16(kChannelTableRegion.address, kChannelTableRegion.count, table, kWriteAttempts);
    connection_.writeRom16(kChannelBlock0Region.address, kChannelBlock0Region.count, block, kWriteAttempts);
    if (verifyWrites_) {
        enterPhase(JobPhase::Verifying);
        verifyRegion(kChannelTableRegion.address, kChannelTableRegion.count, table);
        verifyRegion(kChannelBlock0Region.address, kChannelBlock0Region.count, block);
        stopOnMismatch();
        enterPhase(JobPhase::Writing);
    }
    connection_.writeRom16(kSystemCodeRegion.address, kSystemCodeRegion.count, &systemCode, kWriteAttempts);
    bool systemCodeUnconfirmed = false;
    if (verifyWrites_) {
        enterPhase(JobPhase::Verifying);
        // The station acknowledged 0x3A: without its restart it would keep
        // running the old settings while its memory says moved, and a re-run
        // would take it for moved. A read-back that gets no answer therefore
        // must not skip the restart; it is reported after it.
        try {
            verifyRegion(kSystemCodeRegion.address, kSystemCodeRegion.count, &systemCode);
        } catch (int) {
            systemCodeUnconfirmed = true;
        }
        stopOnMismatch();
        verifyResult_ = systemCodeUnconfirmed ? VerifyResult::Failed : VerifyResult::Passed;
    }
    enterPhase(JobPhase::Restarting);
    QThread::msleep(kSettleBeforeRestartMs);
    // A restart that never left (the adapter pulled during the settle) leaves
    // the station on its old settings with 0x3A in memory: no success.
    if (!connection_.sendRestart()) throw job_messages::kCodeRestartNotSent;
    if (systemCodeUnconfirmed) throw job_messages::kCodeSystemCodeUnconfirmed;
}

void WorkThread::programStation() {
    std::ostream& trace = traceStream();
    resetRunResults();
    deviceParams_.fill(0);   // never a mix of this run's block and an earlier one

    enterPhase(JobPhase::Reading);
    std::uint8_t head[kHeadBytes];
    readHead(head);

    trace << "--------ROM: 0xC000-------------" << std::endl;
    for (int i = 0; i < kDumpChunks; ++i) {
        const std::uint32_t address = kParamBlockAddress + kDumpChunk * static_cast<std::uint32_t>(i);
        std::uint8_t* chunk = deviceParams_.data() + kDumpChunk * i;
        connection_.readRom16(address, kDumpChunk, chunk, kReadAttempts);
        dumpHexWithAddress(chunk, kDumpChunk, address);
    }
    trace << "--------------------------------" << std::endl;

    // The head is the first request on a freshly opened line, where a slow
    // station may still be answering a request of a run that was cut off; a
    // reply of the same length cannot be told apart by the link. The reply
    // to the head itself then arrives on the first dump read, fails there by
    // its length, and the line is drained: the block read after it is the
    // station's. A head that is not the block's first bytes is read again.
    if (std::memcmp(head, deviceParams_.data(), kHeadBytes) != 0) {
        trace << "The head read did not match the block read after it; reading the head again." << std::endl;
        connection_.settleLine();
        readHead(head);
        if (std::memcmp(head, deviceParams_.data(), kHeadBytes) != 0) throw -1;
    }

    const auto version = static_cast<std::uint8_t>(connection_.identifyStation() & 0xFF);
    StationSettings& settings = connection_.settings();

    char versionHex[3];
    std::snprintf(versionHex, sizeof versionHex, "%02X", static_cast<unsigned>(version));
    trace << "Current Params:" << std::endl;
    trace << "modev version: " << versionHex << std::endl;
    trace << "freq_range: " << unsigned(settings.freq_range) << ", freq_subrange: " << unsigned(settings.freq_subrange)
          << std::endl;
    trace << "system_cod: " << unsigned(settings.system_cod) << ", ch_delta[0]: " << unsigned(settings.ch_delta[0])
          << std::endl;
    trace << "Channel 0: " << settings.channel[0] << std::endl;

    std::uint8_t block[16] = {};
    computeChannelBlock(settings, 0, version, block);
    dumpHex(block, sizeof block, ' ');

    trace << "-------------------------------------------" << std::endl;
    trace << "New Params:" << std::endl;

    const std::uint16_t reportedChannel = settings.channel[0];
    settings.ch_delta[0] = kTargetDelta;
    settings.channel[0] = kTargetChannel;
    const int newBlockBytes = computeChannelBlock(settings, 0, version, block);
    dumpHex(block, sizeof block, ' ');

    if (settings.system_cod == kSourceSystemCode && newBlockBytes == static_cast<int>(sizeof block)) {
        keepBackup();
        if (beforeFirstWrite_) beforeFirstWrite_(deviceParams_.data());
        std::uint8_t table[16];
        packChannelTable(settings, table);
        moveStation(table, block);
        emit onReadStationParam();
    } else if (settings.system_cod == kTargetSystemCode && reportedChannel == kTargetChannel) {
        emit onErr(job_messages::alreadyMoved(), job_messages::kCodeAlreadyMoved);
    } else {
        // Also a 0x9E station without channel positions: the plan gives it no
        // block, and writing the zeroed one would leave its synthesiser
        // unprogrammed and the station off the air.
        emit onErr(job_messages::foreignSystem(), job_messages::kCodeForeignOrUnknown);
    }
}
