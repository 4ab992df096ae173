#include <QDate>

#include "StationFiles.h"
#include "TempHome.h"

class ReportFile : public TempHomeTest {};

TEST_F(ReportFile, OneFilePerStationAndDayWithTheHeaderFirst) {
    setParamWord(record().params(), param_offset::address, 291);
    record().params()[param_offset::system] = 58;
    const QDate today = QDate::currentDate();
    const QString path = reportFilePath(today);
    EXPECT_EQ(path, logDir() + QLatin1Char('/') + today.toString(QStringLiteral("yyMMdd")) + QStringLiteral("_291[58].log"));
    EXPECT_EQ(reportFilePath(QDate(2024, 3, 5)), logDir() + QStringLiteral("/240305_291[58].log"));

    appendReportLine(QStringLiteral("a,1"), QStringLiteral("h1,h2"));
    appendReportLine(QStringLiteral("b,2"), QStringLiteral("h1,h2"));
    // (The date may have moved on between the calls; then this is two files.)
    if (reportFilePath(QDate::currentDate()) == path) {
        EXPECT_EQ(readAll(path), "h1,h2\r\na,1\r\nb,2\r\n");
    }

    setParamWord(record().params(), param_offset::address, 7);
    appendReportLine(QStringLiteral("c,3"), QStringLiteral("h"));
    EXPECT_EQ(readAll(reportFilePath(QDate::currentDate())), "h\r\nc,3\r\n");

    // Without a log directory the line is lost, silently.
    ASSERT_TRUE(QDir(logDir()).removeRecursively());
    appendReportLine(QStringLiteral("d"), QStringLiteral("h"));
    EXPECT_FALSE(QDir(logDir()).exists());
}
