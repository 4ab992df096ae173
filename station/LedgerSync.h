#pragma once
// The flush to disk that ends every ledger append, made while the append
// still holds its lock: a run that has reported its outcome must find its
// line on the disk after a power cut, and another process must never take
// the lock before the line is there. Replaceable, so a test can see that
// the flush runs and when.
#include <chrono>
#include <cstdint>
#include <functional>

namespace ledger {

// `handle` is the open ledger's descriptor (POSIX) or HANDLE (Windows).
// True when the file's data is on the disk.
using FileSync = std::function<bool(std::intptr_t handle)>;

// Replaces the flush; an empty function puts the system's own back.
void setFileSync(FileSync sync);
// Flushes through the replacement, or the system's own flush.
bool syncFile(std::intptr_t handle);

// How long an append or a reader tries again while another process holds
// the ledger (a spreadsheet that opened it without write sharing, a stuck
// run): about 3 s, in short waits; then the line goes to the pending file.
// Replaceable, so a test need not wait that long; zero or less puts the
// usual time back.
void setLockPatience(std::chrono::milliseconds patience);
std::chrono::milliseconds lockPatience();

// The process is about to be ended from outside (its console closed, the
// session ending, its terminal gone) and has only the few seconds the system
// grants: from now on a held ledger is not waited for, the line goes to the
// pending file at once (an append already waiting gives up at its next try).
// A lock-free flag: safe in a signal handler and on the console's own thread.
// `on` false takes it back (for tests).
void hurry(bool on = true);
bool hurried();
// How long the pending file itself is waited for then (another run of ours
// holds it for a few milliseconds at most).
inline constexpr std::chrono::milliseconds kHurriedPendingPatience{500};

}  // namespace ledger

// The system's own flush (per platform).
bool systemFileSync(std::intptr_t handle);
