#include "StationFiles.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <cstdint>

#include "AppContext.h"
#include "LogDirectory.h"
#include "StationRecord.h"
#include "StationXmlDocument.h"
#include "XmlNumbers.h"

using namespace station_xml;

namespace {

// The attributes of the parameter element, in file order, and where each
// lives in the parameter head.
struct ParamField {
    const char* name;
    int offset;
    bool isWord;
};
constexpr ParamField kParamFields[] = {
    {"address", param_offset::address, true},   {"system", param_offset::system, false},
    {"version", param_offset::version, true},   {"frange", param_offset::frange, false},
    {"freq_channe", param_offset::freq_channe, true}, {"cps", param_offset::cps, false},
    {"timeouts", param_offset::timeouts, false}, {"device", param_offset::device, false},
};

QByteArray paramValue(const ParamHead& head, const ParamField& field) {
    return formatInt(field.isWord ? paramWord(head, field.offset) : head[field.offset]);
}

QString nowStamp() { return QDateTime::currentDateTime().toString(QStringLiteral("dd.MM.yy hh:mm:ss")); }

// The parameter element is addressed by position, not by name.
pugi::xml_node firstChildElement(pugi::xml_node parent) {
    for (pugi::xml_node child = parent.first_child(); child; child = child.next_sibling()) {
        if (child.type() == pugi::node_element) return child;
    }
    return {};
}

int readInt(pugi::xml_node node, const char* name) { return parseInt(node.attribute(name).value()); }

struct StatusValue {
    const char* name;
    QByteArray text;
};

std::array<StatusValue, 5> statusValues(const StationStatus& s) {
    return {{{"vec", formatInt(s.vec)},
             {"isConnect", formatBool(s.isConnect)},
             {"parent_addr", formatInt(s.parent_addr)},
             {"quality", formatInt(s.quality)},
             {"snr", formatInt(s.snr)}}};
}

void setExisting(pugi::xml_node node, const char* name, const QByteArray& value) {
    if (pugi::xml_attribute attribute = node.attribute(name)) attribute.set_value(value.constData());
}

void appendAttribute(pugi::xml_node node, const char* name, const QByteArray& value) {
    node.append_attribute(name).set_value(value.constData());
}

// Both singletons are there and the station file is not held.
bool writersMayWrite() {
    const AppContext* context = AppContext::instance();
    return StationRecord::instance() && context && !context->stationFileHeld();
}

void loadParams(pugi::xml_node element, StationRecord& record) {
    ParamHead head{};
    for (const ParamField& field : kParamFields) {
        const std::int32_t value = readInt(element, field.name);   // cut to the field's width
        if (field.isWord)
            setParamWord(head, field.offset, static_cast<std::uint16_t>(value));
        else
            head[field.offset] = static_cast<std::uint8_t>(value);
    }
    record.applyLoadedParams(head.data());
}

void loadStatus(pugi::xml_node element, StationRecord& record) {
    StationStatus status;
    status.vec = static_cast<std::uint8_t>(readInt(element, "vec"));
    status.isConnect = parseBool(element.attribute("isConnect").value());
    status.parent_addr = static_cast<std::uint16_t>(readInt(element, "parent_addr"));
    status.quality = readInt(element, "quality");
    status.snr = readInt(element, "snr");
    record.setStatus(status);
}

// Every child counts, whatever its name; the table is merged, not replaced.
void loadRouteTable(pugi::xml_node table, StationRecord& record) {
    for (pugi::xml_node os = firstChildElement(table); os; os = os.next_sibling()) {
        if (os.type() != pugi::node_element) continue;
        RouteEntry& entry = record.routeTable[readInt(os, "address")];
        entry.quality = readInt(os, "quality");
        entry.noise = readInt(os, "noise");
        // Byte for byte: the file is declared windows-1251, and the time text
        // goes back into it unchanged.
        entry.time = QString::fromLatin1(os.attribute("time").value());
        entry.average_snr = parseMean(os.attribute("average_snr").value());
        entry.snr = readInt(os, "snr");
        entry.count = readInt(os, "count");
    }
}

bool sameDirectory(const QString& a, const QString& b) {
    const QString ca = QFileInfo(a).canonicalFilePath();
    const QString cb = QFileInfo(b).canonicalFilePath();
    return !ca.isEmpty() && ca == cb;
}

// Loads the file at `path` into the record; false when nothing was loaded.
// `problem` as for loadDocument.
bool loadInto(const QString& path, QString* problem) {
    StationRecord* record = StationRecord::instance();
    if (!record) return false;
    useStationFileCharTypeLocale();
    pugi::xml_document doc;
    if (!loadDocument(path, doc, problem)) return false;

    const pugi::xml_node station = doc.child("Station");
    loadParams(firstChildElement(station), *record);
    loadStatus(station.child("status"), *record);
    if (const pugi::xml_node table = station.child("ostable")) loadRouteTable(table, *record);

    // A file opened from the log directory becomes the one the writers update.
    const QFileInfo info(path);
    if (AppContext* context = AppContext::instance(); context && sameDirectory(info.absolutePath(), logDirectoryPath()))
        context->setStationFileName(info.fileName());
    return true;
}

}  // namespace

QString stationFilePath() {
    const AppContext* context = AppContext::instance();
    return logDirectoryPath() + QLatin1Char('/') + (context ? context->stationFileName() : QString());
}

void loadStationFile(const QString& path) { loadInto(path, nullptr); }

Result<QString> loadStationFileChecked(const QString& path) {
    QString problem;
    if (loadInto(path, &problem) || problem.isEmpty()) return {};
    return failure(problem);
}

void writeStatusFile() {
    if (!writersMayWrite()) return;
    const QString path = stationFilePath();
    useStationFileCharTypeLocale();
    pugi::xml_document doc;
    if (!loadDocument(path, doc)) return;   // never creates a file

    const auto values = statusValues(StationRecord::instance()->status());
    pugi::xml_node station = doc.child("Station");
    if (pugi::xml_node status = station.child("status")) {
        for (const StatusValue& v : values) setExisting(status, v.name, v.text);
    } else if (station) {
        pugi::xml_node added = station.append_child("status");
        for (const StatusValue& v : values) appendAttribute(added, v.name, v.text);
    }
    saveDocument(doc, path);
}

void writeRouteTableFile() {
    if (!writersMayWrite()) return;
    const QString path = stationFilePath();
    useStationFileCharTypeLocale();
    pugi::xml_document doc;
    if (!loadDocument(path, doc)) return;

    pugi::xml_node station = doc.child("Station");
    if (station) {
        if (pugi::xml_node old = station.child("ostable")) station.remove_child(old);
        pugi::xml_node table = station.append_child("ostable");
        const auto& routes = StationRecord::instance()->routeTable;
        for (auto it = routes.cbegin(); it != routes.cend(); ++it) {
            const RouteEntry& e = it.value();
            pugi::xml_node os = table.append_child("os");
            appendAttribute(os, "address", formatInt(it.key()));
            appendAttribute(os, "time", e.time.toLatin1());
            appendAttribute(os, "quality", formatInt(e.quality));
            appendAttribute(os, "count", formatInt(e.count));
            appendAttribute(os, "snr", formatInt(e.snr));
            appendAttribute(os, "average_snr", formatMean(e.average_snr));
        }
    }
    saveDocument(doc, path);
}

void writeParamsFile() {
    if (!writersMayWrite()) return;
    const QString path = stationFilePath();
    useStationFileCharTypeLocale();
    const ParamHead& head = StationRecord::instance()->params();
    const QByteArray stamp = nowStamp().toUtf8();

    pugi::xml_document doc;
    if (loadDocument(path, doc)) {
        pugi::xml_node station = doc.child("Station");
        setExisting(station, "time", stamp);
        pugi::xml_node param = firstChildElement(station);
        for (const ParamField& f : kParamFields) setExisting(param, f.name, paramValue(head, f));
    } else if (QFileInfo(path).size() > station_xml::kMaxFileBytes) {
        return;   // not a station file, but not ours to replace with a bare head either
    } else {
        pugi::xml_node station = doc.append_child("Station");
        appendAttribute(station, "time", stamp);
        pugi::xml_node param = station.append_child("param");
        for (const ParamField& f : kParamFields) appendAttribute(param, f.name, paramValue(head, f));
    }
    saveDocument(doc, path);
}

QString ensureStationFile() {
    StationRecord* record = StationRecord::instance();
    AppContext* context = AppContext::instance();
    if (!record || !context) return {};
    context->setStationFileName(QString::number(record->address()) + QStringLiteral(".xml"));
    const QString path = stationFilePath();
    if (!QFileInfo::exists(path)) writeParamsFile();
    return path;
}
