// How a station file merges into the station record.
#include "StationFiles.h"
#include "StationXmlDocument.h"
#include "TempHome.h"

namespace {

QByteArray stationFile(const QByteArray& body) {
    return "<?xml version=\"1.0\"  encoding=\"windows-1251\" ?>\r\n<Station time=\"01.01.24 00:00:00\">\r\n" + body +
           "</Station>\r\n";
}

}  // namespace

class StationFileLoad : public TempHomeTest {
protected:
    // Loads from outside the log directory unless told otherwise.
    void load(const QByteArray& bytes, const QString& name = QStringLiteral("s.xml")) {
        const QString path = homePath() + QLatin1Char('/') + name;
        writeAll(path, bytes);
        loadStationFile(path);
    }
};

TEST_F(StationFileLoad, ReadsAllThreePartsOfAWrittenFile) {
    load(testData("full.xml"));
    const ParamHead& p = record().params();
    EXPECT_EQ(paramWord(p, param_offset::address), 291);
    EXPECT_EQ(p[param_offset::frange], 1);
    EXPECT_EQ(paramWord(p, param_offset::freq_channe), 500);
    EXPECT_EQ(p[param_offset::cps], 7);
    EXPECT_EQ(p[param_offset::device], 2);
    for (int untouched : {8, 10, 11, 14, 15}) EXPECT_EQ(p[untouched], 0) << untouched;

    const StationStatus& s = record().status();
    EXPECT_EQ(s.vec, 3);
    EXPECT_TRUE(s.isConnect);
    EXPECT_EQ(s.parent_addr, 17);
    EXPECT_EQ(s.quality, 2);
    EXPECT_EQ(s.snr, -57);

    ASSERT_EQ(record().routeTable.keys(), (QList<std::int32_t>{5, 17, 4100}));
    const RouteEntry& e = record().routeTable[5];
    EXPECT_EQ(e.quality, 1);
    EXPECT_EQ(e.count, 3);
    EXPECT_EQ(e.snr, 40);
    EXPECT_DOUBLE_EQ(e.average_snr, 38.3333);
    EXPECT_EQ(e.time, QStringLiteral("05.03.24 14:05:00"));
    EXPECT_EQ(record().routeTable[4100].snr, 200);
}

TEST_F(StationFileLoad, ParametersComeFromTheFirstChildWhateverItsName) {
    setParamWord(record().params(), param_offset::address, 77);
    record().params()[param_offset::cps] = 5;
    load(stationFile("\t<status vec=\"4\" isConnect=\"yes\" parent_addr=\"9\" />\r\n"
                     "\t<param address=\"291\" cps=\"3\" />\r\n"));
    EXPECT_EQ(paramWord(record().params(), param_offset::address), 0);
    EXPECT_EQ(record().params()[param_offset::cps], 0);
    EXPECT_EQ(record().status().vec, 4);
    EXPECT_TRUE(record().status().isConnect);
    EXPECT_EQ(record().status().parent_addr, 9);

    // Text before the first element does not count as the first child.
    load(stationFile("text<param address=\"12\" freq_channe=\"65536\" frange=\"258\" system=\"-1\" />\r\n"));
    EXPECT_EQ(paramWord(record().params(), param_offset::address), 12);
    EXPECT_EQ(paramWord(record().params(), param_offset::freq_channe), 0);   // low 16 bits of 65536
    EXPECT_EQ(record().params()[param_offset::frange], 2);                   // low 8 bits of 258
}

TEST_F(StationFileLoad, VersionSystemAndTimeoutsStayAsTheStationReportedThem) {
    ParamHead head{};
    setParamWord(head, param_offset::version, 0x81);
    head[param_offset::system] = 0x9E;
    head[param_offset::timeouts] = 6;
    for (int offset : {8, 10, 11, 14, 15}) head[static_cast<std::size_t>(offset)] = 2;
    record().setParams(head.data());
    load(stationFile("\t<param address=\"5\" system=\"58\" version=\"3\" timeouts=\"1\" />\r\n"));
    EXPECT_EQ(paramWord(record().params(), param_offset::version), 0x81);
    EXPECT_EQ(record().params()[param_offset::system], 0x9E);
    EXPECT_EQ(record().params()[param_offset::timeouts], 6);
    for (int offset : {8, 10, 11, 14, 15})   // the loader's head is zero there
        EXPECT_EQ(record().params()[static_cast<std::size_t>(offset)], 0) << offset;
    EXPECT_EQ(paramWord(record().params(), param_offset::address), 5);
}

TEST_F(StationFileLoad, BooleansAndMissingValues) {
    const std::pair<const char*, bool> cases[] = {{"True", true}, {"yes", true}, {"1", true},    {"false", false},
                                                  {"0", false},   {"2", false},  {"", false}};
    for (const auto& [text, expected] : cases) {
        record().status().isConnect = !expected;
        load(stationFile("\t<param />\r\n\t<status isConnect=\"" + QByteArray(text) + "\" />\r\n"));
        EXPECT_EQ(record().status().isConnect, expected) << text;
    }
    // A missing status element reads as all zero.
    record().status().snr = -50;
    record().status().isConnect = true;
    load(stationFile("\t<param />\r\n"));
    EXPECT_EQ(record().status(), StationStatus{});
}

TEST_F(StationFileLoad, RouteTableIsMergedInDocumentOrder) {
    record().routeTable[8].count = 44;   // not in the file: kept
    load(stationFile("\t<param />\r\n\t<ostable>\r\n"
                     "\t\t<os quality=\"1\" snr=\"9\" />\r\n"                                   // no address: node 0
                     "\t\t<os address=\"3\" quality=\"1\" count=\"1\" noise=\"-90\" average_snr=\"12.3456789\" />\r\n"
                     "\t\t<neighbour address=\"4\" count=\"7\" />\r\n"                         // any name counts
                     "\t\t<os address=\"3\" quality=\"2\" count=\"5\" time=\"t2\" />\r\n"      // last one wins
                     "\t</ostable>\r\n"));
    auto& table = record().routeTable;
    ASSERT_EQ(table.keys(), (QList<std::int32_t>{0, 3, 4, 8}));
    EXPECT_EQ(table[0].snr, 9);
    EXPECT_EQ(table[4].count, 7);
    EXPECT_EQ(table[8].count, 44);
    EXPECT_EQ(table[3].quality, 2);
    EXPECT_EQ(table[3].count, 5);
    EXPECT_EQ(table[3].noise, 0);
    EXPECT_EQ(table[3].average_snr, 0.0);
    EXPECT_EQ(table[3].time, QStringLiteral("t2"));

    // No ostable at all: the table stays as it was.
    load(stationFile("\t<param />\r\n"));
    EXPECT_EQ(table.size(), 4);
    EXPECT_EQ(table[3].count, 5);
}

TEST_F(StationFileLoad, BrokenOrMissingFileChangesNothing) {
    record().status().snr = -33;
    record().routeTable[1].count = 2;
    setParamWord(record().params(), param_offset::address, 99);
    const QByteArray broken[] = {"", "<Station><param address=\"1\">", "not xml at all", "<Station></station>",
                                 "<Station><param address=\"1\"/></Stat>"};
    for (const QByteArray& bytes : broken) {
        load(bytes, QStringLiteral("broken.xml"));
        EXPECT_EQ(record().status().snr, -33) << bytes.constData();
        EXPECT_EQ(record().address(), 99) << bytes.constData();
        EXPECT_EQ(record().routeTable.size(), 1) << bytes.constData();
    }
    loadStationFile(homePath() + QStringLiteral("/nowhere.xml"));
    loadStationFile(homePath());   // a directory
    loadStationFile(QString());
    EXPECT_EQ(record().address(), 99);

    // A document without Station still loads: everything reads as missing.
    load("<Other><param address=\"5\" /></Other>");
    EXPECT_EQ(record().address(), 0);
    EXPECT_EQ(record().status().snr, 0);
}

TEST_F(StationFileLoad, FileInTheLogDirectoryBecomesTheStationFile) {
    load(stationFile("\t<param />\r\n"), QStringLiteral("elsewhere.xml"));
    EXPECT_TRUE(AppContext::instance()->stationFileName().isEmpty());

    const QString inLog = logDir() + QStringLiteral("/291.xml");
    writeAll(inLog, stationFile("\t<param address=\"291\" />\r\n"));
    loadStationFile(inLog);
    EXPECT_EQ(AppContext::instance()->stationFileName(), QStringLiteral("291.xml"));

    // Also when reached by another spelling of the same directory.
    const QString other = logDir() + QStringLiteral("/../QuelvintLog/other.xml");
    writeAll(other, stationFile("\t<param />\r\n"));
    loadStationFile(other);
    EXPECT_EQ(AppContext::instance()->stationFileName(), QStringLiteral("other.xml"));

    // A file that does not load leaves the name alone.
    writeAll(logDir() + QStringLiteral("/bad.xml"), "<Station>");
    loadStationFile(logDir() + QStringLiteral("/bad.xml"));
    EXPECT_EQ(AppContext::instance()->stationFileName(), QStringLiteral("other.xml"));
}

TEST_F(StationFileLoad, OversizedOrDeeplyNestedFilesAreNotRead) {
    QByteArray huge = stationFile("\t<param address=\"7\" />\r\n");
    huge.append(QByteArray(static_cast<int>(station_xml::kMaxFileBytes), ' '));
    load(huge);
    EXPECT_EQ(record().address(), 0);

    // Small on disk, but every level would cost a tab on every line of a
    // rewrite: not a station file, and nothing of it is taken.
    QByteArray deep = "<Station><param address=\"7\" /><ostable>";
    for (int i = 0; i < 50000; ++i) deep += "<a>";
    for (int i = 0; i < 50000; ++i) deep += "</a>";
    deep += "</ostable></Station>";
    const QString path = useStationFile(QStringLiteral("deep.xml"), deep);
    loadStationFile(path);
    EXPECT_EQ(record().address(), 0);
    record().status().snr = -40;
    writeStatusFile();
    writeRouteTableFile();
    EXPECT_EQ(readAll(path), deep);
}

TEST_F(StationFileLoad, TimeTextKeepsItsBytesThroughARewrite) {
    // Windows-1251 text, as the vendor's tools may have left it.
    const QByteArray body = "\t<ostable>\r\n\t\t<os address=\"5\" time=\"\xC4\xE5\xED\xFC\" quality=\"1\" />\r\n\t</ostable>\r\n";
    const QString path = useStationFile(QStringLiteral("5.xml"), stationFile(body));
    loadStationFile(path);
    writeRouteTableFile();
    EXPECT_TRUE(readAll(path).contains("time=\"\xC4\xE5\xED\xFC\"")) << readAll(path).toStdString();
}
