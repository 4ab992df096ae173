// Moves a station of system 0x9E to channel 1902 (fine offset 2) and marks it
// as a station of system 0x3A. Every failure leaves as a bare int code: the
// link's (-1, -2; -1 also for a head that twice does not match its block),
// identification's (6, 7), the write sequence's (8, 10, 11), or the job's
// own: 9 for a backup that was required and could not be saved, 130 for a
// stop asked before the writes.

#include <QDateTime>
#include <cstring>

#include "LineFacts.h"
#include "MoveTarget.h"
#include "StationBackup.h"
#include "FrequencyPlan.h"
#include "JobMessages.h"
#include "ReadBack.h"
#include "StationMemory.h"
#include "StationRecord.h"
#include "StationRestore.h"
#include "Trace.h"
#include "WorkThread.h"

namespace {

constexpr int kReadAttempts = line::kAttempts;

// What the station holds now, and the channel block of its present channel 0.
void traceCurrentParams(std::ostream& trace, std::uint8_t version, const StationSettings& settings,
                        std::uint8_t* block) {
    trace << "Current Params:" << std::endl;
    trace << "modev version: " << hexDigits(version, 2).toStdString() << std::endl;
    trace << "freq_range: " << unsigned(settings.freq_range) << ", freq_subrange: " << unsigned(settings.freq_subrange)
          << std::endl;
    trace << "system_cod: " << unsigned(settings.system_cod) << ", ch_delta[0]: " << unsigned(settings.ch_delta[0])
          << std::endl;
    trace << "Channel 0: " << settings.channel[0] << std::endl;
    computeChannelBlock(settings, 0, version, block);
    dumpHex(block, kChannelBlockSize, ' ');
}

// Position 0 set to the target channel and fine offset, and its new channel
// block; returns how many bytes of the block the frequency plan gave.
int retuneChannel0(std::ostream& trace, std::uint8_t version, StationSettings& settings, std::uint8_t* block) {
    trace << "-------------------------------------------" << std::endl;
    trace << "New Params:" << std::endl;
    settings.ch_delta[0] = kTargetFineOffset;
    settings.channel[0] = kTargetChannel;
    const int blockBytes = computeChannelBlock(settings, 0, version, block);
    dumpHex(block, kChannelBlockSize, ' ');
    return blockBytes;
}

}  // namespace

void WorkThread::readHead(std::uint8_t* head) {
    connection_.readRom16(kParamBlockAddress, kParamHeadSize, head, kReadAttempts);
    stationAddress_ = blockAddress(head);
    dumpHex(head, kParamHeadSize, ' ');
    if (StationRecord* record = StationRecord::instance()) record->setParams(head);
    if (addressObserver_) addressObserver_(stationAddress_);
}

void WorkThread::resetRunResults() {
    writes_ = ChangeWritesResult{};
    backupPath_.clear();
    backupError_.clear();
    originalError_.clear();
    unsupportedReason_.clear();
    place_.reset();
    stationAddress_ = -1;
}

// Where the station stands in the mesh, for the ledger, read while it still
// hears its old neighbours. A read that fails costs the run nothing: the
// place stays unknown, and the link drains whatever the failed read may
// still bring before the next request. A port that failed is no failed
// read: the run ends there, as before its first write.
void WorkThread::notePlace() {
    if (!readPlace_) return;
    std::ostream& trace = traceStream();
    try {
        place_ = connection_.readPlace(kReadAttempts);
        trace << "Status: attached " << (place_->attached ? 1 : 0) << ", parent " << place_->parent << ", link "
              << place_->link << ", signal " << place_->signal << " dB" << std::endl;
    } catch (int code) {
        if (code == link_codes::kPortLost || connection_.portLost()) throw link_codes::kPortLost;
        trace << "Status read failed (code " << code << "); going on without the station's place." << std::endl;
    }
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
        if (code != link_codes::kBandMismatch) throw;
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
        notePlace();
        throw;
    }
}

// The head, then the whole block after it, both traced.
void WorkThread::readStation() {
    std::ostream& trace = traceStream();
    enterPhase(JobPhase::Reading);
    std::uint8_t head[kParamHeadSize];
    readHead(head);

    trace << "--------ROM: 0xC000-------------" << std::endl;
    const BlockReadSteps steps{[this] { stopIfAsked(); },
                               [](std::uint32_t address, const std::uint8_t* chunk, std::uint16_t count) {
                                   dumpHexWithAddress(chunk, count, address);
                               }};
    readWholeBlock(connection_, deviceParams_.data(), steps);
    trace << "--------------------------------" << std::endl;

    // The head is the first request on a freshly opened line, where a slow
    // station may still be answering a request of a run that was cut off; a
    // reply of the same length cannot be told apart by the link. The reply
    // to the head itself then arrives on the first dump read, fails there by
    // its length, and the line is drained: the block read after it is the
    // station's. A head that is not the block's first bytes is read again.
    if (std::memcmp(head, deviceParams_.data(), kParamHeadSize) != 0) {
        trace << "The head read did not match the block read after it; reading the head again." << std::endl;
        connection_.settleLine();
        readHead(head);
        if (std::memcmp(head, deviceParams_.data(), kParamHeadSize) != 0) throw link_codes::kNoReply;
    }
}

void WorkThread::programStation() {
    resetRunResults();
    deviceParams_.fill(0);   // never a mix of this run's block and an earlier one
    readStation();

    stopIfAsked();
    const auto version = static_cast<std::uint8_t>(identify() & 0xFF);
    StationSettings& settings = connection_.settings();
    std::uint8_t block[kChannelBlockSize] = {};
    traceCurrentParams(traceStream(), version, settings, block);
    const std::uint16_t reportedChannel = settings.channel[0];
    const int newBlockBytes = retuneChannel0(traceStream(), version, settings, block);
    notePlace();

    if (settings.system_cod == kSourceSystemCode && newBlockBytes == kChannelBlockSize) {
        stopIfAsked();
        keepBackup();
        if (beforeFirstWrite_) beforeFirstWrite_(deviceParams_.data());
        std::uint8_t table[2 * kChannelTableWords];
        packChannelTable(settings.channel, table);
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
