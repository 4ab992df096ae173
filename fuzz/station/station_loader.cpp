// Station files come from disk and may be anything: truncated, huge,
// hostile. Loads each input as a station file, then lets the two writers
// rewrite it in place: what they write must load again.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdint>
#include <cstdlib>

#include "AppContext.h"
#include "LogDirectory.h"
#include "StationFiles.h"
#include "StationRecord.h"
#include "StationXmlDocument.h"

namespace {

QTemporaryDir* home = nullptr;

void writeFile(const QString& path, const std::uint8_t* data, size_t size) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) std::abort();
    file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    home = new QTemporaryDir();
    if (!home->isValid()) std::abort();
    qputenv("HOME", QFile::encodeName(home->path()));
    ensureLogDirectory();
    StationRecord::create();
    AppContext::create();
    AppContext::instance()->setStationFileName(QStringLiteral("fuzz.xml"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    StationRecord& record = *StationRecord::instance();
    record.routeTable.clear();
    record.setStatus(StationStatus{});

    const QString path = logDirectoryPath() + QStringLiteral("/fuzz.xml");
    writeFile(path, data, size);
    loadStationFile(path);

    pugi::xml_document original;
    const bool loads = station_xml::loadDocument(path, original);
    writeStatusFile();
    writeRouteTableFile();
    pugi::xml_document rewritten;
    if (loads && !station_xml::loadDocument(path, rewritten)) std::abort();   // a rewrite must stay readable
    if (!loads) {
        // The writers leave a file that does not load exactly as it was.
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) std::abort();
        if (file.readAll() != QByteArray(reinterpret_cast<const char*>(data), static_cast<int>(size))) std::abort();
    }
    return 0;
}
