// The report as a CSV of stations and as the text summary of the CLI.
#include <QStringList>

#include "Ledger.h"
#include "MigrationReport.h"
#include "NetworkSection.h"
#include "ReportEscape.h"

// RFC 4180, and a field that a spreadsheet would run as a formula (it
// begins with =, +, -, @, a tab or a carriage return) is given a leading
// apostrophe inside quotes, so it is shown as the text it is.
QByteArray report_escape::csvText(const QString& text) {
    QByteArray bytes = text.toUtf8();
    const bool formula = !bytes.isEmpty() && QByteArray("=+-@\t\r").contains(bytes[0]);
    if (formula) bytes.prepend('\'');
    if (!formula && !bytes.contains(',') && !bytes.contains('"') && !bytes.contains('\n') && !bytes.contains('\r'))
        return bytes;
    bytes.replace("\"", "\"\"");
    return '"' + bytes + '"';
}

// Text from another laptop's ledger goes to a terminal: its control
// characters (escape sequences) are shown as '?', never run.
QString report_escape::plain(QString text) {
    for (QChar& c : text)
        if (c.category() == QChar::Other_Control) c = QLatin1Char('?');
    return text;
}

namespace {

using report_escape::csvText;
using report_escape::plain;

QString hostText(const QString& host) { return host.isEmpty() ? QStringLiteral("(unknown)") : plain(host); }

}  // namespace

QByteArray reportCsv(const MigrationReport& report) {
    QByteArray out = QByteArray("address,setup,state,outcome,time,host,port,backup,") + kNetworkCsvColumns + "\r\n";
    for (const ReportStation& s : report.stations) {
        QList<QByteArray> fields = {QByteArray::number(s.address),       csvText(s.setup),
                                          stateName(s.state()),                csvText(outcomeName(s.last.outcome)),
                                          csvText(ledger::timeText(s.last.time)), csvText(s.last.host),
                                          csvText(s.last.port),                csvText(s.last.backup)};
        appendNetworkCsvFields(fields, report, s);
        out += fields.join(',') + "\r\n";
    }
    return out;
}

QString reportText(const MigrationReport& report) {
    QStringList lines;
    lines << QStringLiteral("ledgers read: %1; runs: %2 (%3 without a station read); duplicate lines left out: %4")
                 .arg(report.files.size())
                 .arg(report.runs)
                 .arg(report.runsWithoutStation)
                 .arg(report.duplicates);
    if (report.runs > 0)
        lines << QStringLiteral("first run: %1; last run: %2").arg(ledger::timeText(report.firstRun), ledger::timeText(report.lastRun));
    lines << QStringLiteral("stations: %1; moved: %2; needing attention: %3; restored: %4; other systems: %5")
                 .arg(report.stations.size())
                 .arg(report.countState(StationState::Moved))
                 .arg(report.countState(StationState::NeedsAttention))
                 .arg(report.countLast(RunOutcome::Restored))
                 .arg(report.countLast(RunOutcome::OtherSystem));
    for (const ReportHost& host : report.hosts)
        lines << QStringLiteral("host %1: %2 runs, %3 moves, %4 failures").arg(hostText(host.host)).arg(host.runs).arg(host.moves).arg(host.failures);
    bool header = false;
    for (const ReportStation& s : report.stations) {
        if (s.state() != StationState::NeedsAttention) continue;
        if (!header) {
            lines << QString() << QStringLiteral("needing attention:") << QStringLiteral("address  setup     outcome         time                       host / port");
            header = true;
        }
        lines << QStringLiteral("%1  %2  %3  %4  %5 / %6")
                     .arg(s.address, -7)
                     .arg(s.setup.isEmpty() ? QStringLiteral("-") : plain(s.setup), -8)
                     .arg(outcomeName(s.last.outcome), -14)
                     .arg(ledger::timeText(s.last.time), -25)
                     .arg(hostText(s.last.host), plain(s.last.port));
    }
    const QStringList network = networkTextLines(report);
    if (!network.isEmpty()) lines << QString() << network;
    return lines.join(QLatin1Char('\n'));
}
