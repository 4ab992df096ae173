#include "RunLedger.h"

#include <cstring>

#include "JobMessages.h"
#include "StationBackup.h"
#include "StationMemory.h"
#include "StationRecord.h"
#include "StationRestore.h"

namespace {

bool blockWasRead(const WorkThread& thread, const RunResult& result) {
    // A backup exists only of a block read whole; these outcomes all come
    // after the whole block and the identification were read.
    switch (result.outcome) {
    case RunOutcome::Moved:
    case RunOutcome::AlreadyMoved:
    case RunOutcome::OtherSystem:
    case RunOutcome::VerifyFailed:
    case RunOutcome::PartlyWritten:
        return true;
    default:
        return !thread.backupPath().isEmpty() || link_codes::fromIdentification(result.code) ||
               result.code == job_messages::kCodeBackupNotSaved;
    }
}

}  // namespace

QString verifiedText(VerifyResult verify) {
    switch (verify) {
    case VerifyResult::Passed:
        return QStringLiteral("yes");
    case VerifyResult::Failed:
        return QStringLiteral("no");
    case VerifyResult::NotRun:
        break;
    }
    return QString();
}

LedgerEntry ledgerEntryFor(const WorkThread& thread, const RunResult& result, const QString& port, double seconds) {
    LedgerEntry entry;
    entry.time = QDateTime::currentDateTime();
    entry.port = port;
    entry.outcome = outcomeName(result.outcome);
    entry.code = result.code;
    entry.backup = thread.backupPath();
    entry.verified = verifiedText(thread.verifyResult());
    entry.seconds = seconds;
    // The address, system code and channel 0 come with the block head, read
    // first (and handed to the station record); a run that fails later still
    // names its station and what it was on.
    const StationRecord* record = StationRecord::instance();
    if (thread.stationAddress() >= 0) {
        entry.address = thread.stationAddress();
        if (record && record->address() == thread.stationAddress()) {
            entry.systemBefore = record->system();
            entry.channelBefore = paramWord(record->params(), param_offset::freq_channe);
        }
    }
    if (blockWasRead(thread, result)) {
        const auto& block = thread.deviceParams();
        entry.address = blockAddress(block.data());
        entry.systemBefore = blockSystemCode(block.data());
        entry.channelBefore = blockChannel0(block.data());
        entry.setup = setupFingerprint(block.data());
    }
    entry.note = backupNote(thread.backupPath(), thread.backupError(), thread.originalError());
    entry.place = thread.place();
    return entry;
}

QString originalNotKeptNote(const QString& why) {
    return why.isEmpty() ? QString() : QStringLiteral("original not kept: %1").arg(why);
}

QString backupNote(const QString& backupPath, const QString& backupError, const QString& originalError) {
    // A run refused for want of a backup: the line must say what to mend.
    if (backupPath.isEmpty() && !backupError.isEmpty()) return QStringLiteral("backup not saved: %1").arg(backupError);
    return originalNotKeptNote(originalError);
}

void RunLedger::begin(const QString& port) {
    running_ = true;
    port_ = port;
    timer_.start();
    std::lock_guard<std::mutex> lock(headMutex_);
    head_.reset();
}

QString RunLedger::finish(const WorkThread& thread, const RunResult& result) {
    if (!running_) return QString();
    running_ = false;
    last_ = ledgerEntryFor(thread, result, port_, static_cast<double>(timer_.elapsed()) / 1000.0);
    return appendLast();
}

QString RunLedger::finishWith(LedgerEntry entry) {
    if (!running_) return QString();
    running_ = false;
    entry.time = QDateTime::currentDateTime();
    entry.port = port_;
    entry.seconds = static_cast<double>(timer_.elapsed()) / 1000.0;
    last_ = entry;
    return appendLast();
}

void RunLedger::noteHead(const std::uint8_t* head16) {
    std::array<std::uint8_t, 16> head{};
    std::memcpy(head.data(), head16, head.size());
    std::lock_guard<std::mutex> lock(headMutex_);
    head_ = head;
}

QString RunLedger::finishInterrupted(int code, int address, const QString& backup) {
    LedgerEntry entry;
    entry.outcome = outcomeName(RunOutcome::Interrupted);
    entry.code = code;
    if (address >= 0) entry.address = address;
    {
        // Only what this run read, and only of the station it names.
        std::lock_guard<std::mutex> lock(headMutex_);
        if (head_ && (address < 0 || blockAddress(head_->data()) == address)) {
            entry.address = blockAddress(head_->data());
            entry.systemBefore = blockSystemCode(head_->data());
            entry.channelBefore = blockChannel0(head_->data());
        }
    }
    entry.backup = backup;
    return finishWith(entry);
}

QString RunLedger::appendLast() {
    last_.host = ledger::thisHost();
    QString pending;
    const Result<QString> appended = ledger::append(last_, &pending);
    if (appended) return pending;
    return QStringLiteral("The ledger %1 could not be written: %2").arg(ledger::path(), appended.why());
}
