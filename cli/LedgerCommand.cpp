// ledger: what the ledger says about the fleet: runs per outcome, then each
// station's latest outcome, the stations that still need a visit first, then
// the ports where runs read no station. Lines that runs left in the pending
// file while another program held the ledger are moved into it first. A
// missing ledger is an empty summary; anything else that cannot be read is
// said, with exit status 6.
#include <QDate>

#include "CliOutput.h"
#include "Commands.h"
#include "Ledger.h"
#include "LedgerSummary.h"
#include "Outcome.h"

namespace {

// The widest outcome name ("partly-written"), so every column stays aligned.
constexpr int outcomeWidth() {
    int width = 0;
    for (const RunOutcomeRow& row : kRunOutcomes) {
        int length = 0;
        while (row.name[length] != '\0') ++length;
        if (length > width) width = length;
    }
    return width;
}
constexpr int kOutcomeColumn = -outcomeWidth();   // left-aligned

// A day (from its midnight, local time) or an ISO 8601 time.
QDateTime parseSince(const QString& text) {
    const QDate day = QDate::fromString(text, Qt::ISODate);
    if (day.isValid() && text.size() == 10) return day.startOfDay();
    return QDateTime::fromString(text, Qt::ISODate);
}

// A station is its address and setup; "-" for a setup no run read.
void printStations(const std::vector<LedgerSummary::Station>& stations) {
    if (stations.empty()) return;
    printOut(QString());
    printOut(QStringLiteral("address  setup     %1  time                       port").arg(QStringLiteral("outcome"), kOutcomeColumn));
    for (const LedgerSummary::Station& station : stations)
        printOut(QStringLiteral("%1  %2  %3  %4  %5")
                     .arg(station.address, -7)
                     .arg(station.setup.isEmpty() ? QStringLiteral("-") : station.setup, -8)
                     .arg(outcomeName(station.outcome), kOutcomeColumn)
                     .arg(ledger::timeText(station.time), -25)
                     .arg(station.port));
}

void printSilentPorts(const std::vector<LedgerSummary::SilentPort>& ports) {
    if (ports.empty()) return;
    printOut(QString());
    printOut(QStringLiteral("ports where no station was read:"));
    printOut(QStringLiteral("runs  %1  time                       port").arg(QStringLiteral("latest"), kOutcomeColumn));
    for (const LedgerSummary::SilentPort& port : ports)
        printOut(QStringLiteral("%1  %2  %3  %4")
                     .arg(port.runs, -4)
                     .arg(outcomeName(port.outcome), kOutcomeColumn)
                     .arg(ledger::timeText(port.time), -25)
                     .arg(port.port));
}

}  // namespace

int runLedger(const QStringList& args) {
    QCommandLineParser parser;
    const QCommandLineOption since(QStringLiteral("since"),
                                   QStringLiteral("Only runs from DATE on (2026-12-08, or a time as in the ledger)."),
                                   QStringLiteral("DATE"));
    parser.addOption(since);
    const int early = parseCommandLine(parser, args, QStringLiteral("Summarises the ledger of programming runs (%1).").arg(ledger::path()));
    if (early >= 0) return early;
    if (!parser.positionalArguments().isEmpty())
        return usageError(parser, QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first()));
    QDateTime from;
    if (parser.isSet(since)) {
        from = parseSince(parser.value(since));
        if (!from.isValid()) return usageError(parser, QStringLiteral("--since takes a date like 2026-12-08"));
    }

    // Lines a run left waiting beside a held ledger go in first; while it is
    // still held they are read from where they wait.
    const Result<QString> merged = ledger::mergePending(ledger::path());
    int unreadable = 0;
    int pending = 0;
    QString error;
    const std::vector<LedgerEntry> entries = ledger::read(ledger::path(), &unreadable, &error, &pending);
    if (!error.isEmpty()) {
        printErr(QStringLiteral("rechannel-cli: the ledger %1 cannot be read (%2); put the ledger file back there or "
                                "move what is in its place away.")
                     .arg(ledger::path(), error));
        return exit_status::otherFailure;
    }
    const LedgerSummary summary = summariseLedger(entries, from);
    for (const auto& count : summary.counts) printOut(QStringLiteral("%1  %2").arg(count.first, kOutcomeColumn).arg(count.second));
    printStations(summary.stations);
    printSilentPorts(summary.silentPorts);
    if (pending > 0)
        printErr(QStringLiteral("rechannel-cli: %1 line(s) still wait in %2 (%3); they are counted above and go into the "
                                "ledger at the next run or ledger command once no other program holds it")
                     .arg(pending)
                     .arg(ledger::pendingPath(ledger::path()), merged.why()));
    if (unreadable > 0) printErr(QStringLiteral("rechannel-cli: %1 line(s) of %2 are not ledger lines and were left out").arg(unreadable).arg(ledger::path()));
    return 0;
}
