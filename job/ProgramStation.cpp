// Moves a station of system 0x9E to channel 1902 (fine offset 2) and marks it
// as a station of system 0x3A. Every failure leaves as a bare int code: the
// link's own, or the job's (8 to 11) for what only the job can tell.

#include <QDateTime>
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
    writes_ = ChangeWritesResult{};
    backupPath_.clear();
    backupError_.clear();
    originalError_.clear();
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

// Channel table, block 0, then the system code: with the read-back on, the
// system code is sent only once the other two are known to be in place, so a
// station that keeps no writes stays a 0x9E station that a re-run can move.
// A failure from the first write to the restart leaves the station partly
// written; a re-run completes it.
void WorkThread::moveStation(const std::uint8_t* table, const std::uint8_t* block) {
    enterPhase(JobPhase::Writing);
    beginWrites();
    ChangeWrites writes{table, block, kTargetSystemCode, verifyWrites_, [this](JobPhase phase) { enterPhase(phase); },
                        &traceStream()};
    writeChanges(connection_, writes, &writes_);
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
        endRun(RunOutcome::Moved, 0);
    } else if (settings.system_cod == kTargetSystemCode && reportedChannel == kTargetChannel) {
        endRun(RunOutcome::AlreadyMoved, job_messages::kCodeAlreadyMoved);
    } else {
        // Also a 0x9E station without channel positions: the plan gives it no
        // block, and writing the zeroed one would leave its synthesiser
        // unprogrammed and the station off the air.
        endRun(RunOutcome::OtherSystem, job_messages::kCodeForeignOrUnknown);
    }
}
