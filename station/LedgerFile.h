#pragma once
// The ledger file and its pending file, opened under a lock on the whole
// file, per platform (ledger_file_posix.cpp: flock; ledger_file_win32.cpp:
// LockFileEx). Every open is one attempt that never waits: the caller
// decides how long to try again. Only a regular file is taken: a FIFO or a
// device at the path must neither hold a run's outcome back nor hang the
// ledger command. Closing the file (the destructor) releases the lock.
#include <QByteArray>
#include <QString>
#include <cstdint>

#include "Result.h"

class LedgerFile {
public:
    enum class Lock {
        Shared,      // read only; appends wait for it
        Exclusive,   // read and append; everyone else waits
    };
    enum class Open {
        Opened,
        Busy,      // another process holds the file or its lock: try again later
        Missing,   // no file (only without `create`)
        Refused,   // anything else; the error says what
    };

    LedgerFile() = default;
    ~LedgerFile() { close(); }
    LedgerFile(const LedgerFile&) = delete;
    LedgerFile& operator=(const LedgerFile&) = delete;

    // `create` (Exclusive only) makes a missing file.
    Open tryOpen(const QString& path, Lock lock, bool create, QString* error);
    // The whole file, up to a bound far above any day's fleet.
    Result<QString> readAll(QByteArray* bytes);
    // Writes `header` first to an empty file and ends a line torn by an
    // earlier crash, then `bytes`, in one write at the end, and flushes to
    // disk (ledger::syncFile) before it returns. On failure the file is
    // as it was.
    Result<QString> append(const QByteArray& header, const QByteArray& bytes);
    // Empties the file and flushes that to disk.
    Result<QString> truncate();
    void close();

private:
    std::intptr_t handle_ = -1;   // descriptor (POSIX) or HANDLE (Windows); -1 when closed
};
