// Paths that are no regular file, and saves past the size limit: left
// alone at once, and said so through the problem sink.
#include <QFileInfo>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "FileProblems.h"
#include "StationFiles.h"
#include "StationXmlDocument.h"
#include "TempHome.h"

class FileProblems : public TempHomeTest {
protected:
    void SetUp() override {
        TempHomeTest::SetUp();
        setFileProblemSink([this](const QString& m) { messages.append(m); });
    }
    void TearDown() override { setFileProblemSink({}); }
    QStringList messages;
};

TEST_F(FileProblems, AFifoOrADirectoryAtTheStationOrReportPathIsRefusedAtOnce) {
    struct Make {
        const char* what;
        std::function<bool(const QString&)> make;
        const char* kind;
    };
    std::vector<Make> makers = {{"directory", [](const QString& p) { return QDir().mkdir(p); }, "a directory"}};
#ifndef _WIN32
    makers.push_back({"FIFO", [](const QString& p) { return ::mkfifo(QFile::encodeName(p).constData(), 0600) == 0; },
                      "a FIFO or device"});
#endif
    setParamWord(record().params(), param_offset::address, 42);
    record().status().snr = -40;
    record().routeTable[3].count = 1;
    const QString station = logDir() + QStringLiteral("/42.xml");
    const QString report = reportFilePath(QDate::currentDate());
    for (const Make& m : makers) {
        SCOPED_TRACE(m.what);
        ASSERT_TRUE(m.make(station) && m.make(report));
        AppContext::instance()->setStationFileName(QStringLiteral("42.xml"));
        const std::function<void()> operations[] = {
            [&] { loadStationFile(station); }, writeStatusFile, writeRouteTableFile, writeParamsFile,
            [] { appendReportLine(QStringLiteral("a"), QStringLiteral("h")); }};
        for (const auto& operation : operations) {
            messages.clear();
            operation();
            ASSERT_FALSE(messages.isEmpty());
            EXPECT_EQ(messages.first(), QStringLiteral("%1 is %2, not a regular file: left alone")
                                            .arg(messages.first().startsWith(report) ? report : station, QLatin1String(m.kind)));
        }
        EXPECT_EQ(record().address(), 42) << "nothing loaded";
        EXPECT_FALSE(QFileInfo(station).isFile());
        EXPECT_FALSE(QFileInfo(report).isFile());
        ASSERT_TRUE(QDir().rmdir(station) || QFile::remove(station));
        ASSERT_TRUE(QDir().rmdir(report) || QFile::remove(report));
    }
}

TEST_F(FileProblems, SizeLimitIsSaidWhenASaveOrALoadWouldPassIt) {
    const QString path = useStationFile(QStringLiteral("r.xml"), "<Station><param address=\"5\" /><ostable /></Station>");
    const QString longTime(static_cast<int>(station_xml::kMaxFileBytes / 1000), QLatin1Char('x'));
    for (int node = 0; node < 1100; ++node) record().routeTable[node].time = longTime;
    writeRouteTableFile();
    EXPECT_EQ(messages, QStringList{path + QStringLiteral(" not saved: it would pass the 8 MiB limit of a station file; "
                                                          "the file keeps what it held")});

    // An oversized file is neither read nor replaced by a bare head.
    const QByteArray huge = QByteArray("<Station><param address=\"5\" />") +
                            QByteArray(static_cast<int>(station_xml::kMaxFileBytes), ' ') + "</Station>";
    writeAll(path, huge);
    messages.clear();
    writeParamsFile();
    EXPECT_EQ(messages, QStringList{path + QStringLiteral(" is larger than 8 MiB: not read as a station file")});
    EXPECT_EQ(QFileInfo(path).size(), huge.size());
}
