// Ledgers come from other laptops and may be anything: torn, huge, hostile.
// Each input is read line by line as ledger lines (a line that reads must
// write back to a line that reads the same), then whole as a ledger file by
// the migration report, whose three writers must cope with what it made.
#include <QBuffer>
#include <QCoreApplication>
#include <cstdint>
#include <cstdlib>

#include "Ledger.h"
#include "LedgerMerge.h"
#include "MigrationReport.h"

namespace {

void checkLine(const QByteArray& line) {
    LedgerEntry entry;
    if (!ledger::parseLine(line, &entry)) return;
    LedgerEntry again;
    if (!ledger::parseLine(ledger::formatLine(entry), &again)) std::abort();
    if (again.port != entry.port || again.address != entry.address || again.outcome != entry.outcome ||
        again.backup != entry.backup || again.setup != entry.setup || again.note != entry.note || again.host != entry.host)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    for (const QByteArray& line : bytes.split('\n')) checkLine(line.trimmed());

    QByteArray copy = bytes;
    QBuffer buffer(&copy);
    buffer.open(QIODevice::ReadOnly);
    LedgerMerge merge{QDateTime(), QDateTime()};
    QStringList problems;
    merge.readDevice(buffer, QStringLiteral("fuzz.csv"), &problems);
    const MigrationReport report = merge.finish();
    if (report.runs > bytes.count('\n') + 1) std::abort();
    (void)reportHtml(report);
    (void)reportCsv(report);
    (void)reportText(report);
    return 0;
}
