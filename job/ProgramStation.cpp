// Moves a station of system 0x9E to channel 1902 (fine offset 2) and marks it
// as a station of system 0x3A. Every failure leaves as a bare int code: the
// link's own, or the job's (8 to 11) for what only the job can tell.

#include <QDateTime>
#include <QThread>
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
    partlyWritten_ = false;
    systemCodeAckLost_ = false;
    unsupportedReason_.clear();
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
    traceStream() << "Backup of the parameter block could not be saved: " << backupError_.toStdString() << std::endl;
    if (backupPolicy_ == BackupPolicy::Required) throw job_messages::kCodeBackupNotSaved;
}

void WorkThread::verifyRegion(std::uint16_t address, int count, const std::uint8_t* written) {
    readBackRegion(connection_, address, count, written, &verifyMismatches_);
}

void WorkThread::stopOnMismatch() {
    if (verifyMismatches_.isEmpty()) return;
    verifyResult_ = VerifyResult::Failed;
    for (const QString& mismatch : verifyMismatches_) traceStream() << mismatch.toStdString() << std::endl;
    throw job_messages::kCodeVerifyMismatch;
}

// The system code goes last. An acknowledgement lost on the way back leaves
// open whether the station took it: 0xC004 read back decides. 0x3A means it
// did, and the station must get its restart like any moved one (without it
// it would keep its old settings while every later run takes it for moved).
void WorkThread::writeSystemCode() {
    const std::uint8_t systemCode = kTargetSystemCode;
    try {
        connection_.writeRom16(kSystemCodeRegion.address, kSystemCodeRegion.count, &systemCode, kWriteAttempts);
    } catch (int code) {
        std::uint8_t now = 0;
        try {
            connection_.readRom16(kSystemCodeRegion.address, kSystemCodeRegion.count, &now, kReadAttempts);
        } catch (int) {
            traceStream() << "The system-code write got no acknowledgement and 0xC004 could not be read back."
                          << std::endl;
            throw code;
        }
        const bool took = now == kTargetSystemCode;
        traceStream() << "The system-code write got no acknowledgement; 0xC004 reads back "
                      << hexDigits(now, 2).toStdString()
                      << (took ? ": the write took." : ": the system code was not written.") << std::endl;
        if (!took) throw code;
        systemCodeAckLost_ = true;
    }
}

// Channel table, block 0, then the system code: with the read-back on, the
// system code is sent only once the other two are known to be in place, so a
// station that keeps no writes stays a 0x9E station that a re-run can move.
// A failure from the first write to the restart leaves the station partly
// written; a re-run completes it.
void WorkThread::moveStation(const std::uint8_t* table, const std::uint8_t* block) {
    const std::uint8_t systemCode = kTargetSystemCode;
    enterPhase(JobPhase::Writing);
    beginWrites();
    bool systemCodeUnconfirmed = false;
    try {
        connection_.writeRom16(kChannelTableRegion.address, kChannelTableRegion.count, table, kWriteAttempts);
        connection_.writeRom16(kChannelBlock0Region.address, kChannelBlock0Region.count, block, kWriteAttempts);
        if (verifyWrites_) {
            enterPhase(JobPhase::Verifying);
            verifyRegion(kChannelTableRegion.address, kChannelTableRegion.count, table);
            verifyRegion(kChannelBlock0Region.address, kChannelBlock0Region.count, block);
            stopOnMismatch();
            enterPhase(JobPhase::Writing);
        }
        writeSystemCode();
    } catch (int code) {
        partlyWritten_ = code != job_messages::kCodeVerifyMismatch;
        throw;
    }
    if (verifyWrites_ && systemCodeAckLost_) {
        verifyResult_ = VerifyResult::Passed;   // read back already, as 0x3A
    } else if (verifyWrites_) {
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

// identifyStation, with the reason a station the frequency plan does not
// cover is refused: the operator has to know which value to look at.
int WorkThread::identify() {
    try {
        return connection_.identifyStation();
    } catch (int code) {
        if (code != job_messages::kCodeUnsupported) throw;
        const StationSettings& settings = connection_.settings();
        if (settings.freq_range > 2)
            unsupportedReason_ = QStringLiteral("the frequency plan does not cover range code %1 at 0xC007 "
                                                "(it covers 0 to 4)")
                                     .arg(settings.freq_range);
        else
            unsupportedReason_ = QStringLiteral("the frequency plan does not cover band type %1 at RAM 0x0B01 in "
                                                "frequency range %2 (it covers band %3)")
                                     .arg(settings.band_type)
                                     .arg(settings.freq_range)
                                     .arg(settings.freq_range == 1 ? QStringLiteral("3 or 4")
                                                                   : QString::number(settings.freq_range));
        traceStream() << "Unsupported station: " << unsupportedReason_.toStdString() << std::endl;
        throw;
    }
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
        stopIfAsked();
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

    stopIfAsked();
    const auto version = static_cast<std::uint8_t>(identify() & 0xFF);
    StationSettings& settings = connection_.settings();

    trace << "Current Params:" << std::endl;
    trace << "modev version: " << hexDigits(version, 2).toStdString() << std::endl;
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
        stopIfAsked();
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
