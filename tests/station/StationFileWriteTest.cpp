// The writers' load-modify-save rules, the locale and interrupted saves.
#include <QFileInfo>
#include <clocale>
#include <cstdlib>

#ifndef _WIN32
#include <csignal>
#include <sys/resource.h>
#endif

#include "StationFiles.h"
#include "StationXmlDocument.h"
#include "TempHome.h"

namespace {

constexpr char kHead[] = "<?xml version=\"1.0\"  encoding=\"windows-1251\" ?>\r\n";

}  // namespace

class StationFileWrite : public TempHomeTest {};

TEST_F(StationFileWrite, MissingOrBrokenFilesAreLeftAlone) {
    record().status().snr = -40;
    record().routeTable[3].count = 1;

    // No name yet: the path is the log directory itself.
    writeStatusFile();
    writeRouteTableFile();
    EXPECT_TRUE(QDir(logDir()).entryList(QDir::Files).isEmpty());

    AppContext::instance()->setStationFileName(QStringLiteral("missing.xml"));
    writeStatusFile();
    writeRouteTableFile();
    EXPECT_FALSE(QFile::exists(logDir() + QStringLiteral("/missing.xml")));

    const QByteArray broken = "<Station><status vec=\"1\" />";
    const QString path = useStationFile(QStringLiteral("broken.xml"), broken);
    writeStatusFile();
    writeRouteTableFile();
    EXPECT_EQ(readAll(path), broken);
    EXPECT_EQ(QDir(logDir()).entryList(QDir::Files), QStringList{QStringLiteral("broken.xml")});
}

TEST_F(StationFileWrite, StatusWriterUpdatesOnlyTheAttributesThatExist) {
    const QString path = useStationFile(
        QStringLiteral("s.xml"), QByteArray(kHead) + "<Station time=\"x\">\r\n\t<param address=\"1\" />\r\n"
                                 "\t<status snr=\"0\" vec=\"0\" extra=\"kept\" />\r\n\t<status vec=\"0\" />\r\n</Station>\r\n");
    record().setStatus(StationStatus{200, true, 513, 3, -130});
    writeStatusFile();
    EXPECT_EQ(readAll(path), QByteArray(kHead) + "<Station time=\"x\">\r\n\t<param address=\"1\" />\r\n"
                             "\t<status snr=\"-130\" vec=\"200\" extra=\"kept\" />\r\n\t<status vec=\"0\" />\r\n</Station>\r\n");

    // Without a status element one is appended as the last child, attributes in order.
    const QString bare = useStationFile(QStringLiteral("b.xml"), "<Station><param /><ostable /></Station>");
    writeStatusFile();
    EXPECT_EQ(readAll(bare), QByteArray(kHead) + "<Station>\r\n\t<param />\r\n\t<ostable />\r\n"
                             "\t<status vec=\"200\" isConnect=\"true\" parent_addr=\"513\" quality=\"3\" snr=\"-130\" />\r\n"
                             "</Station>\r\n");
}

TEST_F(StationFileWrite, RouteTableWriterReplacesTheTableAtTheEnd) {
    const QString path = useStationFile(
        QStringLiteral("r.xml"), "<Station><ostable><os address=\"99\" /></ostable><param /><ostable /></Station>");
    record().routeTable[7] = RouteEntry{2, 30, 4, -80, 22.5, QStringLiteral("t")};
    writeRouteTableFile();
    // The first ostable goes; the second one was never looked at.
    EXPECT_EQ(readAll(path), QByteArray(kHead) + "<Station>\r\n\t<param />\r\n\t<ostable />\r\n\t<ostable>\r\n"
                             "\t\t<os address=\"7\" time=\"t\" quality=\"2\" count=\"4\" snr=\"30\" average_snr=\"22.5\" />\r\n"
                             "\t</ostable>\r\n</Station>\r\n");
}

TEST_F(StationFileWrite, NoWriterMakesAFileTheLoaderWouldRefuse) {
    const QString path = useStationFile(QStringLiteral("r.xml"), "<Station><ostable /></Station>");
    // A route table this large only comes from a file merged into the record.
    const QString longTime(static_cast<int>(station_xml::kMaxFileBytes / 1000), QLatin1Char('x'));
    for (int node = 0; node < 1100; ++node) record().routeTable[node].time = longTime;
    writeRouteTableFile();
    EXPECT_EQ(readAll(path), QByteArray("<Station><ostable /></Station>"));
    EXPECT_EQ(QDir(logDir()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("r.xml")});
}

TEST_F(StationFileWrite, DocumentWithoutStationIsSavedUnchanged) {
    const QString path = useStationFile(QStringLiteral("o.xml"), "<!-- c --><Other a=\"1\"><x/></Other>");
    record().routeTable[1].count = 1;
    writeStatusFile();
    writeRouteTableFile();
    writeParamsFile();
    EXPECT_EQ(readAll(path), QByteArray(kHead) + "<Other a=\"1\">\r\n\t<x />\r\n</Other>\r\n");
}

TEST_F(StationFileWrite, ParamsWriterSetsOnlyExistingAttributesOfTheFirstChild) {
    const QString path = useStationFile(QStringLiteral("p.xml"),
                                        "<Station><status address=\"1\" vec=\"2\" /><param address=\"3\" /></Station>");
    setParamWord(record().params(), param_offset::address, 4242);
    writeParamsFile();
    // No time attribute to set, and the first child is status.
    EXPECT_EQ(readAll(path), QByteArray(kHead) + "<Station>\r\n\t<status address=\"4242\" vec=\"2\" />\r\n"
                             "\t<param address=\"3\" />\r\n</Station>\r\n");
}

TEST_F(StationFileWrite, ABrokenFileIsReplacedOnlyByTheParamsWriter) {
    const QString path = useStationFile(QStringLiteral("x.xml"), "<Station");
    writeParamsFile();
    const QByteArray bytes = readAll(path);
    EXPECT_TRUE(bytes.startsWith(QByteArray(kHead) + "<Station time=\"")) << bytes.constData();
    EXPECT_TRUE(bytes.contains("\t<param address=\"0\" system=\"0\" version=\"0\" frange=\"0\" freq_channe=\"0\" "
                               "cps=\"0\" timeouts=\"0\" device=\"0\" />\r\n"));
}

TEST_F(StationFileWrite, EnsureStationFileNamesAndCreatesTheFileOnce) {
    setParamWord(record().params(), param_offset::address, 291);
    record().params()[param_offset::system] = 0x3A;
    const QString path = ensureStationFile();
    EXPECT_EQ(path, logDir() + QStringLiteral("/291.xml"));
    EXPECT_EQ(AppContext::instance()->stationFileName(), QStringLiteral("291.xml"));
    const QByteArray created = readAll(path);
    EXPECT_TRUE(created.contains("<param address=\"291\" system=\"58\" ")) << created.constData();

    // An existing file is used as it is, even a broken one.
    writeAll(path, "<Station");
    EXPECT_EQ(ensureStationFile(), path);
    EXPECT_EQ(readAll(path), "<Station");

    // The record's address decides the name.
    setParamWord(record().params(), param_offset::address, 7);
    EXPECT_EQ(ensureStationFile(), logDir() + QStringLiteral("/7.xml"));
    EXPECT_TRUE(QFile::exists(logDir() + QStringLiteral("/7.xml")));

    // Without a log directory nothing is created and nothing breaks.
    ASSERT_TRUE(QDir(logDir()).removeRecursively());
    ensureStationFile();
    EXPECT_FALSE(QDir(logDir()).exists());
}

#ifndef _WIN32
namespace {

// Switches the whole process to a locale with a decimal comma for one scope.
class CommaLocale {
public:
    CommaLocale() {
        // Prefer the copy the build generated; then whatever the machine has.
        qputenv("LOCPATH", RC_TEST_LOCALE_DIR);
        for (const char* name : {"ru_RU.UTF-8", "ru_RU.utf8", "ru_RU.CP1251", "de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8"}) {
            if (std::setlocale(LC_ALL, name) && std::localeconv()->decimal_point[0] == ',') {
                active_ = true;
                return;
            }
            qunsetenv("LOCPATH");
        }
        std::setlocale(LC_ALL, "C");
    }
    ~CommaLocale() {
        std::setlocale(LC_ALL, "C");
        qunsetenv("LOCPATH");
    }
    bool active() const { return active_; }

private:
    bool active_ = false;
};

}  // namespace

TEST_F(StationFileWrite, DecimalPointUnderARussianLocale) {
    CommaLocale locale;
    if (!locale.active()) GTEST_SKIP() << "no locale with a decimal comma (Debian package: locales)";
    char probe[16];
    std::snprintf(probe, sizeof probe, "%g", 12.5);
    ASSERT_STREQ(probe, "12,5");   // the C library itself would write a comma now

    const QString path = useStationFile(QStringLiteral("ru.xml"), "<Station />");
    record().routeTable[1].average_snr = 12.3456789;
    record().routeTable[2].average_snr = 0.5;
    writeRouteTableFile();
    const QByteArray bytes = readAll(path);
    EXPECT_TRUE(bytes.contains("average_snr=\"12.3457\"")) << bytes.constData();
    EXPECT_TRUE(bytes.contains("average_snr=\"0.5\"")) << bytes.constData();

    record().routeTable.clear();
    loadStationFile(path);
    EXPECT_DOUBLE_EQ(record().routeTable[1].average_snr, 12.3457);
    EXPECT_DOUBLE_EQ(record().routeTable[2].average_snr, 0.5);
}

TEST_F(StationFileWrite, InterruptedSaveKeepsTheOldFile) {
    const QByteArray original = testData("full.xml");
    const QString path = useStationFile(QStringLiteral("291.xml"), original);
    loadStationFile(path);
    for (int node = 100; node < 140; ++node) record().routeTable[node].count = node;

    // A disk that fills up after 64 bytes of the new file.
    struct rlimit saved {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 64;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    writeRouteTableFile();
    writeStatusFile();
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_EQ(readAll(path), original);
    EXPECT_EQ(QDir(logDir()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("291.xml")})
        << "no temporary file is left behind";

    // With room again the same save goes through.
    writeRouteTableFile();
    EXPECT_TRUE(readAll(path).contains("<os address=\"139\" "));
}
#endif
