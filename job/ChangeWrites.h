#pragma once
// Writing the three regions a move (or a restore) changes, in the one order
// that keeps a station sound: channel table, block 0, their read-back, the
// system code, its read-back, the settle and the restart. Both the job and
// restore run it, so a lost acknowledgement or a link that breaks off in the
// middle ends the same way for both.
#include <QStringList>
#include <cstdint>
#include <functional>
#include <ostream>

class StationConnection;

// The read-back check of the last run.
enum class VerifyResult { NotRun, Passed, Failed };

// Where a run is; reported on the worker thread as the run enters each one.
// Writing and Verifying may alternate: the system code is written only after
// the channel table and block 0 have read back right.
enum class JobPhase { Opening, Reading, Writing, Verifying, Restarting, Done };

// What one write sequence left behind, also when it ended with a code.
struct ChangeWritesResult {
    // One line per byte that read back differently.
    QStringList mismatches;
    VerifyResult verify = VerifyResult::NotRun;
    // It failed between its first write and the restart: the station holds
    // part of the change and needs a run that completes it.
    bool partlyWritten = false;
    // The system-code write got no acknowledgement, yet 0xC004 read back what
    // was written: the write took and the station was restarted.
    bool systemCodeAckLost = false;
};

struct ChangeWrites {
    const std::uint8_t* table16;   // channel table, 0xC00C
    const std::uint8_t* block16;   // channel block 0, 0xC080
    std::uint8_t systemCode;       // 0xC004, written last
    bool verify = true;
    // Called as the sequence enters a phase; it may throw an int code.
    std::function<void(JobPhase)> enterPhase;
    // Where the read-back differences and the fate of a lost
    // acknowledgement are told; nullptr: nowhere.
    std::ostream* trace = nullptr;
};

// Runs the sequence. Throws the link's int codes; kCodeVerifyMismatch when a
// region read back differently (nothing more written, no restart);
// kCodeRestartNotSent when the restart could not be put on the line; and
// kCodeSystemCodeUnconfirmed when the system code's read-back got no answer
// (it was acknowledged, so the station was restarted all the same).
// *result is filled as far as the sequence got.
void writeChanges(StationConnection& connection, const ChangeWrites& writes, ChangeWritesResult* result);

// Writes the system code. An acknowledgement lost on the way back leaves
// open whether the station took it: 0xC004 read back decides. True when it
// holds `systemCode` (the write took); otherwise the write's code is thrown.
// False when the write was acknowledged.
bool writeSystemCodeSettled(StationConnection& connection, std::uint8_t systemCode, std::ostream* trace);
