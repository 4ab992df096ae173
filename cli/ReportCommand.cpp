// report: the ledgers of several laptops merged into one migration report,
// written as an HTML page (--html) and/or a CSV of stations (--csv), or,
// with neither, printed as a text summary. Exit status 1 when an input was
// not read (it is named on standard error), 6 when a file was not written.
#include <QDate>

#include "CliOutput.h"
#include "Commands.h"
#include "Ledger.h"
#include "LogDirectory.h"
#include "MigrationReport.h"
#include "Outcome.h"

namespace {

// A day (from its midnight, or through its end for --until, local time) or
// an ISO 8601 time.
QDateTime parseDay(const QString& text, bool throughTheDay) {
    const QDate day = QDate::fromString(text, Qt::ISODate);
    if (day.isValid() && text.size() == 10) return (throughTheDay ? day.addDays(1) : day).startOfDay();
    return QDateTime::fromString(text, Qt::ISODate);
}

}  // namespace

int runReport(const QStringList& args) {
    QCommandLineParser parser;
    const QCommandLineOption html(QStringLiteral("html"), QStringLiteral("Write the report as one HTML page to FILE."), QStringLiteral("FILE"));
    const QCommandLineOption csv(QStringLiteral("csv"), QStringLiteral("Write one CSV line per station to FILE."), QStringLiteral("FILE"));
    const QCommandLineOption since(QStringLiteral("since"), QStringLiteral("Only runs from DATE on (2026-12-08, or a time as in the ledger)."),
                                   QStringLiteral("DATE"));
    const QCommandLineOption until(QStringLiteral("until"), QStringLiteral("Only runs up to DATE, that day included."), QStringLiteral("DATE"));
    const QCommandLineOption plan(QStringLiteral("plan"),
                                  QStringLiteral("Count against the plan of the network in FILE: a CSV with a header and a column "
                                                 "'address' (decimal, or hex with 0x), optionally 'name' and 'place'."),
                                  QStringLiteral("FILE"));
    parser.addOptions({html, csv, since, until, plan});
    parser.addPositionalArgument(QStringLiteral("LEDGER|FOLDER"), QStringLiteral("Ledgers to merge; a folder stands for every *.csv in it (default: %1).").arg(ledger::path()),
                                 QStringLiteral("[LEDGER|FOLDER...]"));
    const int early = parseCommandLine(parser, args, QStringLiteral("Merges the ledgers of several laptops into one migration report."));
    if (early >= 0) return early;

    ReportRequest request;
    request.inputs = parser.positionalArguments();
    request.htmlFile = parser.value(html);
    request.csvFile = parser.value(csv);
    request.planFile = parser.value(plan);
    if (parser.isSet(plan) && request.planFile.isEmpty()) return usageError(parser, QStringLiteral("--plan takes a file"));
    const std::pair<const QCommandLineOption*, QDateTime*> bounds[] = {{&since, &request.since}, {&until, &request.until}};
    for (const auto& [option, bound] : bounds) {
        if (!parser.isSet(*option)) continue;
        *bound = parseDay(parser.value(*option), option == &until);
        if (!bound->isValid())
            return usageError(parser, QStringLiteral("--%1 takes a date like 2026-12-08").arg(option->names().first()));
    }
    // The wrong way round nothing would be reported, as if no run had been.
    if (request.since.isValid() && request.until.isValid() && request.since >= request.until)
        return usageError(parser, QStringLiteral("--since %1 is not before the end of --until %2: give the earlier day "
                                                 "to --since").arg(parser.value(since), parser.value(until)));
    if (request.inputs.isEmpty() && !homeDirectoryKnown()) {
        printErr(QStringLiteral("rechannel-cli: %1 is not set, so there is no ledger of your own to read; name the "
                                "ledgers or folders to merge, or set %1.").arg(homeVariable()));
        return exit_status::otherFailure;
    }

    const ReportResult result = makeReport(request);
    for (const QString& problem : result.problems) printErr(QStringLiteral("rechannel-cli: %1").arg(problem));
    if (request.htmlFile.isEmpty() && request.csvFile.isEmpty()) printOut(reportText(result.report));
    if (!result.filesWritten) return exit_status::otherFailure;
    return result.allInputsRead ? 0 : 1;
}
