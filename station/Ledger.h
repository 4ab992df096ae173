#pragma once
// The ledger: one CSV line for every programming run of the window and the
// CLI, in <log dir>/ledger.csv, so a day's fleet work can be read back:
// which stations were moved, which failed and which still need a visit.
#include <QDateTime>
#include <QString>
#include <optional>
#include <vector>

#include "Result.h"
#include "RunOutcome.h"
#include "StationPlace.h"

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
    // The station's place in the mesh, read before the run wrote anything;
    // empty when it was not read (the window, a read that failed, older lines).
    std::optional<StationPlace> place;
};

namespace ledger {

inline constexpr const char* kHeader =
    "time,port,address,system_before,channel_before,outcome,code,backup,verified,seconds,setup,note,host,"
    "attached,parent,link,signal";
// The header of ledgers begun before the place columns; their lines
// (thirteen fields) still read, without a place.
inline constexpr const char* kHeaderWithoutPlace =
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

// No line end; every field of the header, those not known empty.
QByteArray formatLine(const LedgerEntry& entry);
// True for the ledger's header lines, of this format and of older ones.
bool isHeader(const QByteArray& line);
// False for a line that is not a ledger line (the header, a torn line).
bool parseLine(const QByteArray& line, LedgerEntry* entry);

// Appends one line (and the header first to a new file) with a single write
// under an exclusive lock on the file, and flushes it to disk before it
// returns, so runs in several processes never mix or tear lines and a run
// that reports its outcome has its line on disk. Lines waiting in the
// pending file go in first (mergePending). A ledger that another program
// holds (a spreadsheet that opened it without write sharing, a stuck run
// holding its lock) is tried again for about 3 s; when it stays held, or
// cannot be opened at all, the line goes to the pending file instead: the
// append is done and *pending (when given) says where the line waits. A
// failure says why; the files are then as they were.
Result<QString> append(const LedgerEntry& entry, QString* pending = nullptr);
Result<QString> appendTo(const QString& file, const LedgerEntry& entry, QString* pending = nullptr);

// The pending file beside `file`: "ledger.pending.csv" for "ledger.csv",
// the same header and line format.
QString pendingPath(const QString& file);
// Moves the pending lines into `file` (in time order, each exactly once:
// a line found in the ledger already, left by a crash between the two
// writes, is not written again) and empties the pending file.
// Done when no line is left pending; otherwise the failure says why (the
// ledger is held, unwritable) and the lines wait for the next merge.
Result<QString> mergePending(const QString& file);

// Every readable line of `file`, in file order, read under a shared lock
// (an append in progress ends first), then the lines of its pending file
// that are not in it yet, in time order; *pending counts those. A missing
// file is empty. `unreadable` counts the lines that were neither the header
// nor a run. Anything at the path that is not a regular file it can read (a
// FIFO, a directory, a file it may not read, a file locked by another
// process beyond the patience) is not read: no lines, and `error` says why.
std::vector<LedgerEntry> read(const QString& file, int* unreadable = nullptr, QString* error = nullptr,
                              int* pending = nullptr);

}  // namespace ledger
