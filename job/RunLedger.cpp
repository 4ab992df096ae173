#include "RunLedger.h"

#include <cstring>

#include "JobMessages.h"
#include "StationBackup.h"
#include "StationMemory.h"
#include "StationRecord.h"
#include "StationRestore.h"

namespace {

bool blockWasRead(const WorkThread& thread, const RunResult& result, const QString& outcome) {
    // A backup exists only of a block read whole; these outcomes all come
    // after the whole block and the identification were read.
    return !thread.backupPath().isEmpty() || result.code == 6 || result.code == 7 ||
           result.code == job_messages::kCodeBackupNotSaved ||
           outcome == QLatin1String("moved") || outcome == QLatin1String("already-moved") ||
           outcome == QLatin1String("other-system") || outcome == QLatin1String("verify-failed") ||
           outcome == QLatin1String("partly-written");
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

RunOutcome classifyRun(const RunResult& result, VerifyResult verify) {
    if (result.interrupted) return RunOutcome::Interrupted;
    if (result.moved) return RunOutcome::Moved;
    if (!result.hasError) return RunOutcome::Failed;
    if (verify == VerifyResult::Failed || result.code == job_messages::kCodeVerifyMismatch ||
        result.code == job_messages::kCodeSystemCodeUnconfirmed)
        return RunOutcome::VerifyFailed;
    // Whatever code broke the link, the station holds part of the move.
    if (result.text == job_messages::partlyWritten()) return RunOutcome::PartlyWritten;
    switch (result.code) {
    case job_messages::kCodeAlreadyMoved:
        return RunOutcome::AlreadyMoved;
    case job_messages::kCodePortNotOpened:
        return RunOutcome::NoPort;
    case job_messages::kCodeForeignOrUnknown:
        // 255 stands for both; only the text tells them apart.
        return result.text == job_messages::foreignSystem() ? RunOutcome::OtherSystem : RunOutcome::Failed;
    case job_messages::kCodeUnsupported:
        return RunOutcome::Unsupported;
    case -1:
    case -2:
    case 6:
        return RunOutcome::NoAnswer;
    default:
        return RunOutcome::Failed;
    }
}

QString ledgerOutcome(const RunResult& result, VerifyResult verify) {
    return QLatin1String(runOutcomeRow(classifyRun(result, verify)).name);
}

LedgerEntry ledgerEntryFor(const WorkThread& thread, const RunResult& result, const QString& port, double seconds) {
    LedgerEntry entry;
    entry.time = QDateTime::currentDateTime();
    entry.port = port;
    entry.outcome = ledgerOutcome(result, thread.verifyResult());
    entry.code = result.moved ? 0 : result.code;
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
    if (blockWasRead(thread, result, entry.outcome)) {
        const auto& block = thread.deviceParams();
        entry.address = blockAddress(block.data());
        entry.systemBefore = blockSystemCode(block.data());
        entry.channelBefore = blockChannel0(block.data());
        entry.setup = setupFingerprint(block.data());
    }
    entry.note = backupNote(thread.backupPath(), thread.backupError(), thread.originalError());
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
    entry.outcome = ledgerOutcome(RunResult{false, false, QString(), code, true}, VerifyResult::NotRun);
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
    QString error;
    if (ledger::append(last_, &error)) return QString();
    return QStringLiteral("The ledger %1 could not be written: %2").arg(ledger::path(), error);
}
