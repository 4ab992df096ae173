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

}  // namespace ledger

// The system's own flush (per platform).
bool systemFileSync(std::intptr_t handle);
