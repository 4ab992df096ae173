// The operator's plan as spreadsheets save it, and what is no plan at all:
// each row is a file's bytes and what the reader must make of them.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <vector>

#include "MigrationReport.h"
#include "StationPlan.h"

namespace {

struct Case {
    const char* name;
    QByteArray bytes;
    bool read;             // taken as a plan
    const char* stations;  // "address|name|place" joined by ';'
    int problems;
    const char* named;     // a problem says this (empty: nothing to check)
};

const std::vector<Case> kCases = {
    {"commas, decimal and hex addresses, other columns ignored, blank lines skipped",
     "address,name,place,owner\n291,Школа,ул. Ленина 5,x\n\n0x124,Котельная,,y\r\n", true,
     "291|Школа|ул. Ленина 5;292|Котельная|", 0, ""},
    {"a spreadsheet set for Russian: Windows-1251 text, semicolons, Russian column names",
     QByteArray("\xE0\xE4\xF0\xE5\xF1;\xED\xE0\xE7\xE2\xE0\xED\xE8\xE5;\xEC\xE5\xF1\xF2\xEE\r\n"
                "300;\xD8\xEA\xEE\xEB\xE0 \xB9" "3;\xCB\xE5\xF1\xED\xE0\xFF, 5\r\n"),
     true, "300|Школа №3|Лесная, 5", 0, ""},
    {"quoted fields: commas, doubled quotes, a line end inside; line numbers count physical lines",
     "\xEF\xBB\xBF" "name,address,place\n\"Узел \"\"Север\"\", 2\",301,\"двор\nза гаражами\"\n302,oops,\n", true,
     "301|Узел \"Север\", 2|двор\nза гаражами", 1, "plan.csv:4: address 'oops' is no number"},
    {"an address named again is counted once and named; out of range and junk are named and left out",
     "address,name\n400,first\n0x190,second\n70000,big\n0x10000,bigger\n-1,negative\n0x,bare\n+5,plus\n", true,
     "400|first|", 6, "plan.csv:3: address 400 again (first on line 2); counted once"},
    {"a quote that never closes costs its line only",
     "address,name\n500,\"open\n501,fine\n", true, "501|fine|", 1, "plan.csv:2: a quote is not closed"},
    {"more than ten bad lines: ten named, the rest counted",
     "address\n" + QByteArray("x\n").repeated(13), true, "", 11, "plan.csv: 3 more lines left out of the plan"},
    {"no address column", "name,place\nA,B\n", false, "", 1, "no column 'address'"},
    {"a ledger with its header",
     "time,port,address,system_before,channel_before,outcome,code,backup,verified,seconds,setup,note,host\n", false, "", 1,
     "is a ledger"},
    {"a ledger without its header",
     "2026-12-08T10:00:00+03:00,COM3,291,158,500,moved,0,,yes,2.00,abcd,,anna\n", false, "", 1, "is a ledger"},
    {"the report's own CSV",
     "address,setup,state,outcome,time,host,port,backup,parent,attached,link,signal,plan,name,place\r\n", false, "", 1,
     "report's CSV"},
    {"the report's own page", "<!DOCTYPE html>\n<html lang=\"ru\">address</html>\n", false, "", 1, "HTML page"},
    {"an empty file", "", false, "", 1, "empty file"},
};

QString stationsOf(const StationPlan& plan) {
    QStringList out;
    for (const PlanStation& s : plan.stations) out << QStringLiteral("%1|%2|%3").arg(s.address).arg(s.name, s.place);
    return out.join(QLatin1Char(';'));
}

TEST(StationPlanTest, ReadsPlansAsSpreadsheetsSaveThemAndRefusesWhatIsNoPlan) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        StationPlan plan;
        QStringList problems;
        EXPECT_EQ(parseStationPlan(c.bytes, QStringLiteral("plan.csv"), &plan, &problems), c.read);
        EXPECT_EQ(plan.given, c.read);
        EXPECT_EQ(stationsOf(plan), QString::fromUtf8(c.stations));
        EXPECT_EQ(problems.size(), c.problems) << problems.join(QLatin1Char('\n')).toStdString();
        if (*c.named) {
            EXPECT_TRUE(problems.join(QLatin1Char('\n')).contains(QString::fromUtf8(c.named)))
                << problems.join(QLatin1Char('\n')).toStdString();
        }
    }
}

// A plan that is refused leaves the report without a plan and says so in
// the exit status; the report's files are never written over the plan.
TEST(StationPlanTest, ThePlanIsAnInputTheReportNeverReplaces) {
    QTemporaryDir dir;
    const QString planPath = dir.filePath(QStringLiteral("stations.csv"));
    const QByteArray planBytes = "address,name\n291,A\n";
    QFile plan(planPath);
    ASSERT_TRUE(plan.open(QIODevice::WriteOnly));
    plan.write(planBytes);
    plan.close();

    ReportRequest request;
    request.inputs << dir.filePath(QStringLiteral("none.csv"));   // no ledger there
    request.planFile = planPath;
    request.csvFile = planPath;
    request.htmlFile = dir.filePath(QStringLiteral("report.html"));
    const ReportResult result = makeReport(request);
    EXPECT_FALSE(result.filesWritten);
    EXPECT_TRUE(result.report.plan.given);
    ASSERT_TRUE(plan.open(QIODevice::ReadOnly));
    EXPECT_EQ(plan.readAll(), planBytes);
    plan.close();
    EXPECT_TRUE(QFile::exists(request.htmlFile)) << "a ledger that is not there refused a page that was not there yet";

    request.planFile = request.htmlFile;   // the page just written, given as the plan
    request.csvFile.clear();
    request.htmlFile = dir.filePath(QStringLiteral("again.html"));
    const ReportResult refused = makeReport(request);
    EXPECT_FALSE(refused.allInputsRead);
    EXPECT_FALSE(refused.report.plan.given);
    EXPECT_TRUE(refused.filesWritten);
}

}  // namespace
