#pragma once
// One ledger line per programming run, the same from the window and the CLI:
// the run's outcome named once here, the station's values before the move
// from the block the run read.
#include <QElapsedTimer>
#include <QString>
#include <array>
#include <cstdint>
#include <mutex>
#include <optional>

#include "Ledger.h"
#include "RunResult.h"
#include "WorkThread.h"

// The ledger's `verified`: "yes", "no", or empty when nothing was read back.
QString verifiedText(VerifyResult verify);

// The ledger line of a run that has just ended on `thread`.
LedgerEntry ledgerEntryFor(const WorkThread& thread, const RunResult& result, const QString& port, double seconds);

// The ledger's note for a backup that could not also be kept as the
// station's original (`why` says what failed); empty for an empty `why`.
QString originalNotKeptNote(const QString& why);
// The ledger's note on the backup of a run: why none could be saved when
// `backupPath` is empty and `backupError` says why, otherwise why the
// original was not kept (empty when nothing went wrong).
QString backupNote(const QString& backupPath, const QString& backupError, const QString& originalError);

// Times a run from its start and appends its line when it ends. Only a run
// begun here is logged: the window's success box also follows a file load.
class RunLedger {
public:
    void begin(const QString& port);
    bool running() const { return running_; }
    // Appends the line; returns an empty text, or what to tell about it: why
    // the ledger could not be written, or where the line waits while another
    // program holds the ledger (the run's outcome stays what it was).
    QString finish(const WorkThread& thread, const RunResult& result);
    // The same for a run that is not the job's (a restore): `entry` as the
    // run filled it; its time, port and seconds are set here.
    QString finishWith(LedgerEntry entry);
    // Called on the job's thread each time this run has read the block head:
    // an interrupted run's line takes the values before the move from it.
    void noteHead(const std::uint8_t* head16);
    // The same for a run ended by an interrupt before its first write (`code`
    // the job's for it, kCodeStopped), while
    // the job may still be running: only the station's address (-1 when not
    // read yet), which the thread keeps atomically, what this run's head told
    // of the station (noteHead), and the backup already saved (empty when
    // none).
    QString finishInterrupted(int code, int address, const QString& backup);
    // The line of the last finished run.
    const LedgerEntry& lastEntry() const { return last_; }

private:
    QString appendLast();

    bool running_ = false;
    QString port_;
    QElapsedTimer timer_;
    LedgerEntry last_;
    std::mutex headMutex_;
    std::optional<std::array<std::uint8_t, 16>> head_;   // this run's, under headMutex_
};
