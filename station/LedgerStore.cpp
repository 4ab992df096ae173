// The ledger's appends and reads (declared in Ledger.h): the file under its
// lock, and the pending file that keeps a run's line while another program
// holds the ledger, so no line is ever lost or written twice.
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSet>
#include <algorithm>
#include <limits>
#include <thread>

#include "Ledger.h"
#include "LedgerFile.h"
#include "LedgerSync.h"
#include "LogDirectory.h"

namespace {

using Lock = LedgerFile::Lock;
using Open = LedgerFile::Open;

// The ledger, or the pending file beside it.
enum class Which { Ledger, Pending };

std::chrono::milliseconds patienceFor(Which which) {
    if (!ledger::hurried()) return ledger::lockPatience();
    return which == Which::Pending ? ledger::kHurriedPendingPatience : std::chrono::milliseconds(0);
}

// Tries again while another process holds the file, in waits growing from
// 5 ms to 100 ms, until the patience has passed. A process being ended from
// outside (ledger::hurry) waits no more for the ledger and only briefly for
// the pending file; the patience is looked at before every try, so an open
// already waiting gives up as soon as the hurry comes.
Open openPatiently(LedgerFile& file, const QString& path, Which which, Lock lock, bool create, QString* error) {
    QElapsedTimer clock;
    clock.start();
    std::chrono::milliseconds wait{5};
    for (;;) {
        const Open opened = file.tryOpen(path, lock, create, error);
        if (opened != Open::Busy) return opened;
        const std::chrono::milliseconds patience = patienceFor(which);
        const std::chrono::milliseconds left = patience - std::chrono::milliseconds(clock.elapsed());
        if (left.count() <= 0) {
            *error = patience.count() > 0
                         ? QStringLiteral("held by another program for over %1 s, perhaps open in a spreadsheet or "
                                          "an editor")
                               .arg(patience.count() / 1000.0)
                         : QStringLiteral("held by another program, perhaps open in a spreadsheet or an editor, and "
                                          "not waited for: the program was being ended");
            return opened;
        }
        std::this_thread::sleep_for(std::min(wait, left));
        wait = std::min(wait * 2, std::chrono::milliseconds(100));
    }
}

QByteArray header() { return QByteArray(ledger::kHeader) + '\n'; }

// The lines of a ledger or pending file, without line ends, empty lines
// and headers.
QList<QByteArray> linesOf(const QByteArray& bytes) {
    QList<QByteArray> lines;
    for (const QByteArray& raw : bytes.split('\n')) {
        const QByteArray line = raw.trimmed();
        if (!line.isEmpty() && !ledger::isHeader(line)) lines.append(line);
    }
    return lines;
}

// The lines of `pending` that `ledger` does not hold yet, in time order (a
// line that does not read keeps its place after the line before it).
QList<QByteArray> freshInTimeOrder(const QList<QByteArray>& pending, const QList<QByteArray>& ledger) {
    const QSet<QByteArray> present(ledger.begin(), ledger.end());
    std::vector<std::pair<qint64, QByteArray>> keyed;
    qint64 last = std::numeric_limits<qint64>::min();
    for (const QByteArray& line : pending) {
        LedgerEntry entry;
        if (ledger::parseLine(line, &entry)) last = entry.time.toMSecsSinceEpoch();
        if (!present.contains(line)) keyed.emplace_back(last, line);
    }
    std::stable_sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    QList<QByteArray> fresh;
    for (const auto& line : keyed) fresh.append(line.second);
    return fresh;
}

QByteArray joined(const QList<QByteArray>& lines) {
    QByteArray bytes;
    for (const QByteArray& line : lines) bytes += line + '\n';
    return bytes;
}

// With the ledger locked exclusively: the pending lines it lacks, then
// `line` (may be empty), in one append; then the pending file is emptied.
// A crash between the two leaves lines in both files; the next merge finds
// them in the ledger and does not write them again. False when the append
// failed (both files as they were); *drained says whether no line is left
// pending.
bool writeLocked(LedgerFile& ledgerFile, const QString& file, const QByteArray& line, bool* drained, QString* error) {
    *drained = true;
    const QString pendingFile = ledger::pendingPath(file);
    LedgerFile pending;
    QByteArray pendingBytes;
    QByteArray ledgerBytes;
    QString why;
    QList<QByteArray> fresh;
    bool merging = false;   // both files read whole: the pending lines go in now
    if (QFileInfo(pendingFile).size() > 0) {
        merging = openPatiently(pending, pendingFile, Which::Pending, Lock::Exclusive, false, &why) == Open::Opened &&
                  pending.readAll(&pendingBytes, &why) && ledgerFile.readAll(&ledgerBytes, &why);
        if (merging) fresh = freshInTimeOrder(linesOf(pendingBytes), linesOf(ledgerBytes));
        else *drained = false, *error = QStringLiteral("%1: %2").arg(pendingFile, why);
    }
    const QByteArray chunk = joined(fresh) + line;
    if (!chunk.isEmpty() && !ledgerFile.append(header(), chunk, error)) return *drained = false, false;
    // Already in the ledger when this fails: the next merge skips them.
    if (merging) pending.truncate(&why);
    return true;
}

}  // namespace

namespace ledger {

QString pendingPath(const QString& file) {
    const QString suffix = QStringLiteral(".csv");
    if (file.endsWith(suffix)) return file.left(file.size() - suffix.size()) + QStringLiteral(".pending.csv");
    return file + QStringLiteral(".pending");
}

bool append(const LedgerEntry& entry, QString* error, QString* pending) {
    ensureLogDirectory();
    return appendTo(path(), entry, error, pending);
}

bool appendTo(const QString& file, const LedgerEntry& entry, QString* error, QString* pending) {
    const QByteArray line = formatLine(entry) + '\n';
    LedgerFile ledgerFile;
    QString why;
    if (openPatiently(ledgerFile, file, Which::Ledger, Lock::Exclusive, true, &why) == Open::Opened) {
        bool drained = true;
        return writeLocked(ledgerFile, file, line, &drained, error);
    }
    // Held or unwritable: the line waits beside it, never lost.
    const QString pendingFile = pendingPath(file);
    LedgerFile waiting;
    QString pendingWhy;
    if (openPatiently(waiting, pendingFile, Which::Pending, Lock::Exclusive, true, &pendingWhy) == Open::Opened &&
        waiting.append(header(), line, &pendingWhy)) {
        if (pending)
            *pending = QStringLiteral("The ledger %1 could not be written (%2); this run's line waits in %3 and goes "
                                      "into the ledger at the next run or `rechannel-cli ledger`.")
                           .arg(file, why, pendingFile);
        return true;
    }
    *error = QStringLiteral("%1; nor could the line wait in %2: %3").arg(why, pendingFile, pendingWhy);
    return false;
}

bool mergePending(const QString& file, QString* error) {
    if (QFileInfo(pendingPath(file)).size() == 0) return true;
    LedgerFile ledgerFile;
    QString why;
    if (openPatiently(ledgerFile, file, Which::Ledger, Lock::Exclusive, true, &why) != Open::Opened)
        return *error = QStringLiteral("%1 is %2").arg(file, why), false;
    bool drained = true;
    return writeLocked(ledgerFile, file, QByteArray(), &drained, error) && drained;
}

std::vector<LedgerEntry> read(const QString& file, int* unreadable, QString* error, int* pending) {
    std::vector<LedgerEntry> entries;
    if (unreadable) *unreadable = 0;
    if (pending) *pending = 0;
    QByteArray bytes;
    QString why;
    {
        LedgerFile ledgerFile;
        const Open opened = openPatiently(ledgerFile, file, Which::Ledger, Lock::Shared, false, &why);
        if (opened == Open::Busy || opened == Open::Refused || (opened == Open::Opened && !ledgerFile.readAll(&bytes, &why))) {
            if (error) *error = why;
            return entries;
        }
    }
    const QList<QByteArray> lines = linesOf(bytes);
    QList<QByteArray> waiting;
    LedgerFile pendingFile;
    QByteArray pendingBytes;
    if (QFileInfo(pendingPath(file)).size() > 0 &&
        openPatiently(pendingFile, pendingPath(file), Which::Pending, Lock::Shared, false, &why) == Open::Opened &&
        pendingFile.readAll(&pendingBytes, &why))
        waiting = freshInTimeOrder(linesOf(pendingBytes), lines);
    if (pending) *pending = waiting.size();
    for (const QList<QByteArray>& part : {lines, waiting})
        for (const QByteArray& line : part) {
            LedgerEntry entry;
            if (parseLine(line, &entry)) entries.push_back(entry);
            else if (unreadable) ++*unreadable;
        }
    return entries;
}

}  // namespace ledger
