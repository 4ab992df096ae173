#include "ChangeWrites.h"

#include <QThread>

#include "JobMessages.h"
#include "LineFacts.h"
#include "MoveTarget.h"
#include "ReadBack.h"
#include "StationConnection.h"
#include "StationMemory.h"

namespace {

constexpr int kReadAttempts = line::kAttempts;
constexpr int kWriteAttempts = line::kAttempts;
// The station stores the new parameters in flash after the last write; a
// restart before that would lose them.
constexpr unsigned long kSettleBeforeRestartMs = 2000;

void enter(const ChangeWrites& writes, JobPhase phase) {
    if (writes.enterPhase) writes.enterPhase(phase);
}

void readBack(StationConnection& connection, const ParamRegion& region, const std::uint8_t* written,
              ChangeWritesResult* result) {
    readBackRegion(connection, region.address, region.count, written, &result->mismatches);
}

void stopOnMismatch(const ChangeWrites& writes, ChangeWritesResult* result) {
    if (result->mismatches.isEmpty()) return;
    result->verify = VerifyResult::Failed;
    if (writes.trace)
        for (const QString& mismatch : result->mismatches) *writes.trace << mismatch.toStdString() << std::endl;
    throw job_messages::kCodeVerifyMismatch;
}

// Channel table and block 0, read back before the system code when the
// check is on, then the system code. A failure anywhere here leaves the
// station partly written, except a difference in the read-back: the system
// code was not written then, so the station still runs and reads as before.
void writeUpToSystemCode(StationConnection& connection, const ChangeWrites& writes, ChangeWritesResult* result) {
    try {
        connection.writeRom16(kChannelTableRegion.address, kChannelTableRegion.count, writes.table16, kWriteAttempts);
        connection.writeRom16(kChannelBlock0Region.address, kChannelBlock0Region.count, writes.block16,
                              kWriteAttempts);
        if (writes.verify) {
            enter(writes, JobPhase::Verifying);
            readBack(connection, kChannelTableRegion, writes.table16, result);
            readBack(connection, kChannelBlock0Region, writes.block16, result);
            stopOnMismatch(writes, result);
            enter(writes, JobPhase::Writing);
        }
        result->systemCodeAckLost = writeSystemCodeSettled(connection, writes.systemCode, writes.trace);
    } catch (int code) {
        result->partlyWritten = code != job_messages::kCodeVerifyMismatch;
        throw;
    }
}

}  // namespace

bool writeSystemCodeSettled(StationConnection& connection, std::uint8_t systemCode, std::ostream* trace) {
    try {
        connection.writeRom16(kSystemCodeRegion.address, kSystemCodeRegion.count, &systemCode, kWriteAttempts);
        return false;
    } catch (int code) {
        std::uint8_t now = 0;
        try {
            connection.readRom16(kSystemCodeRegion.address, kSystemCodeRegion.count, &now, kReadAttempts);
        } catch (int) {
            if (trace)
                *trace << "The system-code write got no acknowledgement and 0xC004 could not be read back."
                       << std::endl;
            throw code;
        }
        const bool took = now == systemCode;
        if (trace)
            *trace << "The system-code write got no acknowledgement; 0xC004 reads back "
                   << hexDigits(now, 2).toStdString()
                   << (took ? ": the write took." : ": the system code was not written.") << std::endl;
        if (!took) throw code;
        return true;
    }
}

// Once the system code is in, the station must get its restart: without it
// it would keep running its present settings with the new system code in
// memory, and a re-run would take it for done. A read-back of the system
// code that gets no answer therefore does not skip the restart; it is
// reported after it.
void writeChanges(StationConnection& connection, const ChangeWrites& writes, ChangeWritesResult* result) {
    *result = ChangeWritesResult{};
    writeUpToSystemCode(connection, writes, result);
    bool systemCodeUnconfirmed = false;
    if (writes.verify && result->systemCodeAckLost) {
        result->verify = VerifyResult::Passed;   // read back already
    } else if (writes.verify) {
        enter(writes, JobPhase::Verifying);
        try {
            readBack(connection, kSystemCodeRegion, &writes.systemCode, result);
        } catch (int) {
            systemCodeUnconfirmed = true;
        }
        stopOnMismatch(writes, result);
        result->verify = systemCodeUnconfirmed ? VerifyResult::Failed : VerifyResult::Passed;
    }
    enter(writes, JobPhase::Restarting);
    QThread::msleep(kSettleBeforeRestartMs);
    // A restart that never left (the adapter pulled during the settle) leaves
    // the station on its old settings with the new system code in memory.
    if (!connection.sendRestart()) {
        // Nothing but the outcome would say the system code went unchecked.
        if (systemCodeUnconfirmed)
            result->mismatches << QStringLiteral("read back 0x%1: no answer").arg(hexDigits(kSystemCodeRegion.address, 4));
        throw job_messages::kCodeRestartNotSent;
    }
    if (systemCodeUnconfirmed) throw job_messages::kCodeSystemCodeUnconfirmed;
}
