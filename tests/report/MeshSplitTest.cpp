// Where the migration splits the mesh: each row is a ledger with the places
// its runs read (and a plan) and the lists the report must make of them.
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <vector>

#include "MigrationReport.h"
#include "NetworkTree.h"

namespace {

const char* const kHeader =
    "time,port,address,system_before,channel_before,outcome,code,backup,verified,seconds,setup,note,host,"
    "attached,parent,link,signal";

// A run of station `address` on the 8th at `time`; `place` is
// "attached,parent,link,signal", or empty when no place was read.
QByteArray run(const char* time, int address, const char* outcome, const char* place = "") {
    const QByteArray fields = QByteArray(place).isEmpty() ? QByteArray(",,,") : QByteArray(place);
    return QByteArray("2026-12-08T") + time + "+03:00,COM3," + QByteArray::number(address) + ",158,500," + outcome +
           ",0,,yes,2.00,s" + QByteArray::number(address) + ",,anna," + fields + "\n";
}

struct Case {
    const char* name;
    QByteArray ledger;           // lines after the header
    QByteArray plan;             // empty: no plan
    const char* cutOff;          // addresses, comma-separated
    const char* aloneInNew;
    const char* wouldCutOff;     // address:count, most first
    const char* loops;           // each "a>b>c", separated by ';'
    const char* selfParents;
    const char* parentsOnly;     // stations named as parents only
    const char* notVisited;      // plan stations in no ledger
    const char* notInPlan;
};

const std::vector<Case> kCases = {
    {"a parent moved before its child: neither is alone, nothing is cut off",
     run("09:00:00", 300, "moved", "1,200,3,-70") + run("09:10:00", 301, "moved", "1,300,2,-80"), "",
     "", "", "", "", "", "200", "", ""},
    {"a child moved before its parent: the child is alone, the parent's move would cut off its other child",
     run("09:00:00", 301, "moved", "1,300,2,-80") + run("09:05:00", 302, "partly-written", "1,300,1,-90") +
         run("09:10:00", 300, "no-answer"),
     "", "", "301", "300:1", "", "", "", "", ""},
    {"an unmoved station under a moved parent is cut off; a moved one among unmoved neighbours only is alone",
     run("09:00:00", 300, "moved", "1,200,3,-70") + run("09:05:00", 310, "verify-failed", "1,300,3,-75") +
         run("09:06:00", 311, "other-system", "1,310,3,-75") + run("09:07:00", 312, "moved", "1,310,3,-75"),
     "", "310", "300,312", "310:1", "", "", "200", "", ""},
    {"a station that changed its parent: the latest place before its move counts, not one read after it",
     run("09:00:00", 305, "verify-failed", "1,300,3,-80") + run("09:30:00", 305, "moved", "1,310,3,-80") +
         run("10:00:00", 305, "already-moved", "1,999,3,-60") + run("09:01:00", 310, "unsupported", "1,1,3,-80"),
     "", "", "305", "1:1", "", "", "1", "", ""},
    {"a loop of parents is named and broken at its lowest address; a station naming itself is named",
     run("09:00:00", 322, "partly-written", "1,320,3,-80") + run("09:01:00", 321, "partly-written", "1,322,3,-80") +
         run("09:02:00", 320, "partly-written", "1,321,3,-80") + run("09:03:00", 330, "moved", "1,330,3,-80"),
     "", "", "330", "320:2;322:1", "320>321>322", "330", "", "", ""},
    {"a parent never visited is known only as a parent; a detached station has no link",
     run("09:00:00", 340, "partly-written", "1,399,3,-80") + run("09:01:00", 341, "unsupported", "1,399,2,-85") +
         run("09:02:00", 342, "moved", "0,399,0,-120"),
     "", "", "342", "399:2", "", "", "399", "", ""},
    {"against a plan: a plan entry never visited, a station the plan lacks, a parent the plan lacks",
     run("09:00:00", 350, "moved", "1,360,3,-80") + run("09:01:00", 351, "no-answer") + run("09:02:00", 352, "moved", "1,360,3,-80"),
     "address,name,place\n350,A,x\n351,B,y\n0x161,C,z\n",   // 0x161 = 353
     "", "350,352", "", "", "", "360", "353", "352,360"},
};

QString joined(const MeshSplit& mesh, const std::vector<int>& nodes) {
    QStringList out;
    for (const int i : nodes) out << QString::number(mesh.nodes[size_t(i)].address);
    return out.join(QLatin1Char(','));
}

QString byState(const MeshSplit& mesh, MeshState state) {
    std::vector<int> nodes;
    for (size_t i = 0; i < mesh.nodes.size(); ++i)
        if (mesh.nodes[i].state == state) nodes.push_back(int(i));
    return joined(mesh, nodes);
}

MigrationReport reportOf(const QTemporaryDir& dir, const Case& c) {
    ReportRequest request;
    QFile ledger(dir.filePath(QStringLiteral("ledger.csv")));
    EXPECT_TRUE(ledger.open(QIODevice::WriteOnly));
    ledger.write(QByteArray(kHeader) + "\n" + c.ledger);
    ledger.close();
    request.inputs << ledger.fileName();
    if (!c.plan.isEmpty()) {
        QFile plan(dir.filePath(QStringLiteral("plan.csv")));
        EXPECT_TRUE(plan.open(QIODevice::WriteOnly));
        plan.write(c.plan);
        request.planFile = plan.fileName();
    }
    const ReportResult result = makeReport(request);
    EXPECT_TRUE(result.problems.isEmpty()) << result.problems.join(QLatin1Char('\n')).toStdString();
    return result.report;
}

TEST(MeshSplitTest, FindsWhereTheMigrationSplitsTheMesh) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const MigrationReport report = reportOf(dir, c);
        const MeshSplit& mesh = report.mesh;
        EXPECT_EQ(joined(mesh, mesh.cutOff), QLatin1String(c.cutOff));
        EXPECT_EQ(joined(mesh, mesh.aloneInNew), QLatin1String(c.aloneInNew));
        QStringList would, loops;
        for (const int i : mesh.wouldCutOff)
            would << QStringLiteral("%1:%2").arg(mesh.nodes[size_t(i)].address).arg(mesh.nodes[size_t(i)].cutOffByMove);
        for (const std::vector<int>& loop : mesh.loops) loops << joined(mesh, loop).replace(QLatin1Char(','), QLatin1Char('>'));
        EXPECT_EQ(would.join(QLatin1Char(';')), QLatin1String(c.wouldCutOff));
        EXPECT_EQ(loops.join(QLatin1Char(';')), QLatin1String(c.loops));
        EXPECT_EQ(joined(mesh, mesh.selfParents), QLatin1String(c.selfParents));
        EXPECT_EQ(byState(mesh, MeshState::ParentOnly), QLatin1String(c.parentsOnly));
        EXPECT_EQ(byState(mesh, MeshState::NotVisited), QLatin1String(c.notVisited));
        EXPECT_EQ(joined(mesh, mesh.notInPlan), QLatin1String(c.notInPlan));
    }
}

// The counts against the plan, the CSV's new columns (the latest place of
// any run, the plan's texts formula-guarded) and the text summary.
TEST(MeshSplitTest, CountsAgainstThePlanAndWritesThePlaceColumns) {
    const Case c{"", run("09:00:00", 350, "moved", "1,360,3,-80") + run("09:30:00", 350, "already-moved", "1,7,2,-64") +
                         run("09:01:00", 351, "no-answer") + run("09:02:00", 354, "restored"),
                 "Address;Name;Place;notes\n350;\"=HYPERLINK(\"\"x\"\")\";Лесная, 5;\n351;B;;\n352;C;;\n354;D;;\n",
                 "", "", "", "", "", "", "", ""};
    QTemporaryDir dir;
    const MigrationReport report = reportOf(dir, c);
    const MeshSplit& mesh = report.mesh;
    EXPECT_EQ(mesh.planned, 4);
    EXPECT_EQ(mesh.plannedMoved, 1);
    EXPECT_EQ(mesh.plannedAttention, 1);
    EXPECT_EQ(mesh.plannedNotMoved, 1);
    EXPECT_EQ(mesh.notVisited, 1);
    EXPECT_EQ(mesh.placesUnknown, 2);

    const QList<QByteArray> csv = reportCsv(report).split('\n');
    EXPECT_TRUE(csv[0].endsWith(",backup,parent,attached,link,signal,plan,name,place\r")) << csv[0].constData();
    QByteArray row350;
    for (const QByteArray& line : csv)
        if (line.startsWith("350,")) row350 = line;
    EXPECT_TRUE(row350.endsWith(",7,1,2,-64,yes,\"'=HYPERLINK(\"\"x\"\")\",\"Лесная, 5\"\r")) << row350.constData();

    const QString text = reportText(report);
    EXPECT_TRUE(text.contains(QStringLiteral("plan: 4 stations; moved: 1; needing attention: 1; restored: 1; not yet visited: 1"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("place in the mesh unknown (status not read): 2 stations"))) << text.toStdString();
}

// One element per station, one path per link drawn, no more: a loop is
// drawn open. Beyond the limit the page gives the lists alone.
TEST(MeshSplitTest, TheTreeDrawsEveryStationOnceAndEveryLoopOpen) {
    QTemporaryDir dir;
    const MigrationReport report = reportOf(dir, kCases[4]);
    const QString svg = networkTreeSvg(report.mesh, report.plan);
    int links = 0;
    for (const MeshNode& node : report.mesh.nodes) links += node.parent >= 0;
    EXPECT_EQ(svg.count(QStringLiteral("<g class=\"station\"")), int(report.mesh.nodes.size()));
    EXPECT_EQ(svg.count(QStringLiteral("<path ")), links);
    EXPECT_EQ(links, 2) << "three stations in a loop keep two links; one naming itself keeps none";

    QByteArray many;
    for (int a = 1; a <= kTreeLimit + 1; ++a) many += run("09:00:00", a, "moved", "1,1000,3,-80");
    QTemporaryDir big;
    const MigrationReport large = reportOf(big, Case{"", many, "", "", "", "", "", "", "", "", ""});
    EXPECT_TRUE(networkTreeSvg(large.mesh, large.plan).isEmpty());
    EXPECT_TRUE(reportHtml(large).contains("Схема не нарисована"));
}

}  // namespace
