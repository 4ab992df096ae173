#pragma once
// The ledger: one CSV line for every programming run of the window and the
// CLI, in <log dir>/ledger.csv, so a day's fleet work can be read back:
// which stations were moved, which failed and which still need a visit.
#include <QDateTime>
#include <QString>
#include <optional>
#include <vector>

#include "RunOutcome.h"

struct LedgerEntry {
    QDateTime time;                        // when the run ended, local time
    QString port;
    std::optional<int> address;            // empty when the block was not read
    std::optional<int> systemBefore;
    std::optional<int> channelBefore;
    QString outcome;                       // a name of kRunOutcomes
    int code = 0;
    QString backup;                        // backup path, or empty
    QString verified;                      // "yes", "no" or empty
    double seconds = 0;
    QString setup;                         // fingerprint of the station's setup; empty when the block was not read whole
    QString note;                          // what else went wrong without changing the outcome, or empty
    QString host;                          // the computer that wrote the line; empty in older lines (unknown)
};

namespace ledger {

inline constexpr const char* kHeader =
    "time,port,address,system_before,channel_before,outcome,code,backup,verified,seconds,setup,note,host";
// The header of ledgers begun before the host column; their lines (twelve
// fields) still read, with the host unknown (empty).
inline constexpr const char* kHeaderWithoutHost =
    "time,port,address,system_before,channel_before,outcome,code,backup,verified,seconds,setup,note";
// The header of ledgers begun before the setup and note columns; their lines
// (ten fields) still read, with both empty.
inline constexpr const char* kHeaderWithoutSetup =
    "time,port,address,system_before,channel_before,outcome,code,backup,verified,seconds";

QString path();   // <log dir>/ledger.csv
// ISO 8601 local time with its offset ("2026-12-08T10:15:00+01:00").
QString timeText(const QDateTime& time);

// The name of this computer, as new lines carry it in their host column.
QString thisHost();

// No line end; an entry without a host is written without the host column.
QByteArray formatLine(const LedgerEntry& entry);
// True for the ledger's header lines, of this format and of older ones.
bool isHeader(const QByteArray& line);
// False for a line that is not a ledger line (the header, a torn line).
bool parseLine(const QByteArray& line, LedgerEntry* entry);

// Appends one line (and the header first to a new file) with a single write
// under an advisory lock on the file, and flushes it to disk before it
// returns, so runs in several processes never mix or tear lines and a run
// that reports its outcome has its line on disk. On failure returns false
// with the reason; the file is then as it was.
bool append(const LedgerEntry& entry, QString* error);
bool appendTo(const QString& file, const LedgerEntry& entry, QString* error);

// Every readable line of `file`, in file order; a missing file is empty.
// `unreadable` counts the lines that were neither the header nor a run.
// Anything at the path that is not a regular file it can read (a FIFO, a
// directory, a file it may not read) is not read: no lines, and `error`
// says why.
std::vector<LedgerEntry> read(const QString& file, int* unreadable = nullptr, QString* error = nullptr);

}  // namespace ledger

// The platform part. Both take a regular file only and never block on
// anything else at the path.
// Appends `bytes` under an exclusive lock on the whole file, writing
// `header` first when the file is empty, in one write, then flushes to disk.
bool appendLocked(const QString& file, const QByteArray& header, const QByteArray& bytes, QString* error);
// Reads the whole file (up to a bound far above any day's fleet).
enum class LedgerFileRead { Read, Missing, Refused };
LedgerFileRead readLedgerFile(const QString& file, QByteArray* bytes, QString* error);
