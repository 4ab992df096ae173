// The exact bytes of station files: written files are compared byte for
// byte with files in tests/station/data.
#include <QRegularExpression>

#include "StationFiles.h"
#include "StationXmlDocument.h"
#include "TempHome.h"

namespace {

// The writers stamp the current time into Station; the expected files carry
// 00.00.00 00:00:00 in its place.
QByteArray withFixedStamp(QByteArray bytes) {
    static const QRegularExpression stamp(QStringLiteral("^(<\\?xml[^\\r]*\\r\\n<Station time=\")"
                                                         "\\d\\d\\.\\d\\d\\.\\d\\d \\d\\d:\\d\\d:\\d\\d\""));
    QString text = QString::fromLatin1(bytes);
    const auto match = stamp.match(text);
    if (!match.hasMatch()) return bytes;
    text.replace(0, match.capturedLength(), match.captured(1) + QStringLiteral("00.00.00 00:00:00\""));
    return text.toLatin1();
}

void fillHead(ParamHead& head) {
    setParamWord(head, param_offset::address, 4660);
    head[param_offset::system] = 58;
    setParamWord(head, param_offset::version, 258);
    head[param_offset::frange] = 2;
    setParamWord(head, param_offset::freq_channe, 1902);
    head[param_offset::cps] = 5;
    head[param_offset::timeouts] = 9;
    head[param_offset::device] = 17;
}

}  // namespace

class StationFileFormat : public TempHomeTest {};

TEST_F(StationFileFormat, DeclarationLineIsExact) {
    EXPECT_EQ(sizeof station_xml::kDeclaration - 1, 47u);
    pugi::xml_document doc;
    doc.append_child("Station");
    const QByteArray bytes = station_xml::serialize(doc);
    EXPECT_TRUE(bytes.startsWith("<?xml version=\"1.0\"  encoding=\"windows-1251\" ?>\r\n<Station />\r\n")) << bytes.constData();
    EXPECT_EQ(bytes.size(), 47 + 2 + 11 + 2);
}

TEST_F(StationFileFormat, LoadedFileIsRewrittenByteForByte) {
    const QByteArray expected = testData("full.xml");
    ASSERT_NE(expected, "<missing>");
    const QString path = useStationFile(QStringLiteral("291.xml"), expected);
    loadStationFile(path);
    ASSERT_EQ(record().routeTable.size(), 3);

    writeStatusFile();
    EXPECT_EQ(readAll(path), expected);
    writeRouteTableFile();
    EXPECT_EQ(readAll(path), expected);

    // The parameter writer takes every field from the record and a new stamp.
    ParamHead head{};
    setParamWord(head, param_offset::address, 291);
    head[param_offset::system] = 158;
    setParamWord(head, param_offset::version, 129);
    head[param_offset::frange] = 1;
    setParamWord(head, param_offset::freq_channe, 500);
    head[param_offset::cps] = 7;
    head[param_offset::timeouts] = 3;
    head[param_offset::device] = 2;
    record().setParams(head.data());
    writeParamsFile();
    const QByteArray rewritten = readAll(path);
    EXPECT_NE(rewritten, expected);   // the stamp moved on
    QByteArray expectedFixed = expected;
    expectedFixed.replace("05.03.24 14:03:27", "00.00.00 00:00:00");
    EXPECT_EQ(withFixedStamp(rewritten), expectedFixed);
}

TEST_F(StationFileFormat, ParamsWriterCreatesTheFileTheOthersExtend) {
    fillHead(record().params());
    StationStatus status;
    status.parent_addr = 65535;
    status.quality = 3;
    status.snr = -130;
    record().setStatus(status);
    AppContext::instance()->setStationFileName(QStringLiteral("4660.xml"));
    const QString path = logDir() + QStringLiteral("/4660.xml");

    writeStatusFile();
    writeRouteTableFile();
    EXPECT_FALSE(QFile::exists(path)) << "only the parameter writer creates a file";

    writeParamsFile();
    writeStatusFile();
    writeRouteTableFile();   // empty table: a self-closing ostable
    EXPECT_EQ(withFixedStamp(readAll(path)), testData("created.xml"));
}

TEST_F(StationFileFormat, MeansAndExtremeValuesAreWrittenInCFormat) {
    AppContext::instance()->setStationFileName(QStringLiteral("0.xml"));
    writeParamsFile();
    auto& table = record().routeTable;
    table[4].average_snr = 0.0000123456789;
    table[2].average_snr = 23.5;
    table[1] = RouteEntry{3, -2147483647 - 1, 2147483647, 9, 12.3456789, QStringLiteral("01.02.03 04:05:06")};
    table[3].average_snr = 1e6;
    table[-3].average_snr = -2.5;
    writeRouteTableFile();
    EXPECT_EQ(withFixedStamp(readAll(logDir() + QStringLiteral("/0.xml"))), testData("means.xml"));
}

TEST_F(StationFileFormat, CommentsAndForeignDeclarationDoNotSurviveARewrite) {
    const QString path = useStationFile(
        QStringLiteral("c.xml"),
        "\xEF\xBB\xBF<?xml version='1.0' encoding='UTF-8'?>\n<!-- keep me? -->\n<Station time=\"t\">\n"
        "<param address=\"1\"/><?pi x?><!-- inner --><status vec=\"1\" snr=\"2\"/>\n</Station>\n<!-- tail -->\n");
    record().status().vec = 9;
    record().status().snr = -4;
    writeStatusFile();
    EXPECT_EQ(readAll(path),
              "<?xml version=\"1.0\"  encoding=\"windows-1251\" ?>\r\n<Station time=\"t\">\r\n"
              "\t<param address=\"1\" />\r\n\t<status vec=\"9\" snr=\"-4\" />\r\n</Station>\r\n");
}
