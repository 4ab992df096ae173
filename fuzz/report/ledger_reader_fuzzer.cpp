// Ledgers come from other laptops and may be anything: torn, huge, hostile;
// so may the operator's plan. Each input is read line by line as ledger
// lines (a line that reads must write back to a line that reads the same),
// then whole as a ledger file by the migration report, and whole as a plan
// of the network, whose stations must be distinct 16-bit addresses; the
// mesh is split over both and the three writers must cope with it all.
#include <QBuffer>
#include <QCoreApplication>
#include <cstdint>
#include <cstdlib>

#include "Ledger.h"
#include "LedgerMerge.h"
#include "MigrationReport.h"
#include "StationPlan.h"

namespace {

bool samePlace(const std::optional<StationPlace>& a, const std::optional<StationPlace>& b) {
    if (a.has_value() != b.has_value()) return false;
    return !a || (a->attached == b->attached && a->parent == b->parent && a->link == b->link && a->signal == b->signal);
}

void checkLine(const QByteArray& line) {
    LedgerEntry entry;
    if (!ledger::parseLine(line, &entry)) return;
    LedgerEntry again;
    if (!ledger::parseLine(ledger::formatLine(entry), &again)) std::abort();
    if (again.port != entry.port || again.address != entry.address || again.outcome != entry.outcome ||
        again.backup != entry.backup || again.setup != entry.setup || again.note != entry.note || again.host != entry.host ||
        !samePlace(again.place, entry.place))
        std::abort();
}

void checkPlan(const StationPlan& plan) {
    for (size_t i = 0; i < plan.stations.size(); ++i) {
        const int address = plan.stations[i].address;
        if (address < 0 || address > 0xFFFF || (i > 0 && plan.stations[i - 1].address >= address)) std::abort();
    }
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
    MigrationReport report = merge.finish();
    if (report.runs > bytes.count('\n') + 1) std::abort();
    if (parseStationPlan(bytes, QStringLiteral("plan.csv"), &report.plan, &problems)) checkPlan(report.plan);
    report.mesh = splitMesh(report.stations, report.plan);
    if (report.mesh.nodes.size() < report.plan.stations.size()) std::abort();
    (void)reportHtml(report);
    (void)reportCsv(report);
    (void)reportText(report);
    return 0;
}
