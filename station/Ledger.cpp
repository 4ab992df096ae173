#include "Ledger.h"

#include <QByteArrayView>
#include <QStringList>
#include <QSysInfo>
#include <QVarLengthArray>
#include <cstdio>

#include "LogDirectory.h"

namespace {

constexpr int kOldFields = 10;   // lines written before the setup and note columns
constexpr int kFieldsWithoutHost = 12;   // lines written before the host column
constexpr int kFieldsWithoutPlace = 13;   // lines written before the place columns
constexpr int kFields = 17;
constexpr int kHostField = 12;
constexpr int kPlaceField = 13;   // attached, parent, link, signal

// A host column holds a computer's name: never empty, never a bare number
// (a number there is a field of an older line shifted by a stray comma).
bool hostName(QByteArrayView text) {
    if (text.isEmpty()) return false;
    for (const char c : text)
        if ((c < '0' || c > '9') && c != '.') return true;
    return false;
}

// RFC 4180: a field with a comma, a quote or a line end is quoted, its
// quotes doubled (ports and home directories may hold commas).
QByteArray csvField(const QString& text) {
    QByteArray bytes = text.toUtf8();
    if (!bytes.contains(',') && !bytes.contains('"') && !bytes.contains('\n') && !bytes.contains('\r')) return bytes;
    bytes.replace("\"", "\"\"");
    return '"' + bytes + '"';
}

// A line's fields as views: into the line itself, or, for a line with
// quotes, into `unquoted`, which holds their text. False for a quote left
// open or more fields than any format has.
using Fields = QVarLengthArray<QByteArrayView, kFields>;

bool splitCsv(const QByteArray& line, QList<QByteArray>* unquoted, Fields* fields) {
    // Most lines quote nothing: split them in place (a report reads many).
    if (!line.contains('"')) {
        for (qsizetype start = 0;;) {
            const qsizetype comma = line.indexOf(',', start);
            if (fields->size() == kFields) return false;
            fields->append(QByteArrayView(line).sliced(start, (comma < 0 ? line.size() : comma) - start));
            if (comma < 0) return true;
            start = comma + 1;
        }
    }
    QByteArray field;
    bool quoted = false;
    for (int i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c != '"') field += c;
            else if (i + 1 < line.size() && line[i + 1] == '"') field += line[++i];
            else quoted = false;
        } else if (c == '"' && field.isEmpty()) {
            quoted = true;
        } else if (c == ',') {
            unquoted->append(field);
            field.clear();
        } else {
            field += c;
        }
    }
    if (quoted) return false;
    unquoted->append(field);
    if (unquoted->size() > kFields) return false;
    for (const QByteArray& text : *unquoted) fields->append(QByteArrayView(text));
    return true;
}

QByteArray optionalNumber(const std::optional<int>& value) {
    return value ? QByteArray::number(*value) : QByteArray();
}

// Digits at text[at, at + count), or -1.
int digits(QByteArrayView text, int at, int count) {
    int value = 0;
    for (int i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return -1;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

// The time as the ledger writes it ("2026-12-08T10:15:00+01:00") read
// directly; any other form (fractions of a second, "Z", a time Qt alone
// knows how to take) as Qt's ISO 8601 reader takes it.
QDateTime parseTime(QByteArrayView text) {
    if (text.size() == 25 && text[4] == '-' && text[7] == '-' && text[10] == 'T' && text[13] == ':' && text[16] == ':' &&
        (text[19] == '+' || text[19] == '-') && text[22] == ':') {
        const QDate date(digits(text, 0, 4), digits(text, 5, 2), digits(text, 8, 2));
        const int hour = digits(text, 11, 2), minute = digits(text, 14, 2), second = digits(text, 17, 2);
        const int offsetHours = digits(text, 20, 2), offsetMinutes = digits(text, 23, 2);
        if (date.isValid() && hour >= 0 && hour < 24 && minute >= 0 && minute < 60 && second >= 0 && second < 60 &&
            offsetHours >= 0 && offsetHours < 15 && offsetMinutes >= 0 && offsetMinutes < 60) {
            const int offset = (offsetHours * 3600 + offsetMinutes * 60) * (text[19] == '-' ? -1 : 1);
            return QDateTime(date, QTime(hour, minute, second), Qt::OffsetFromUTC, offset);
        }
    }
    return QDateTime::fromString(QString::fromUtf8(text), Qt::ISODate);
}

bool parseOptional(QByteArrayView text, std::optional<int>* value) {
    if (text.isEmpty()) {
        value->reset();
        return true;
    }
    bool ok = false;
    const int number = text.toInt(&ok);
    if (ok) *value = number;
    return ok;
}

// A whole number in [low, high] written as the ledger writes it.
bool boundedNumber(QByteArrayView text, int low, int high, int* value) {
    bool ok = false;
    *value = text.toInt(&ok);
    return ok && *value >= low && *value <= high;
}

// The four place fields from `first` on: all empty (no place was read), or
// each within what a station can report.
bool parsePlace(const Fields& fields, int first, std::optional<StationPlace>* place) {
    const QByteArrayView* f = &fields[first];
    if (f[0].isEmpty() && f[1].isEmpty() && f[2].isEmpty() && f[3].isEmpty()) {
        place->reset();
        return true;
    }
    StationPlace p;
    int attached = 0, parent = 0;
    if (!boundedNumber(f[0], 0, 1, &attached) || !boundedNumber(f[1], 0, 0xFFFF, &parent) ||
        !boundedNumber(f[2], 0, station_place::kLinkMax, &p.link) ||
        !boundedNumber(f[3], station_place::kSignalMin, station_place::kSignalMax, &p.signal))
        return false;
    p.attached = attached == 1;
    p.parent = static_cast<std::uint16_t>(parent);
    *place = p;
    return true;
}

void appendPlace(QList<QByteArray>& fields, const std::optional<StationPlace>& place) {
    if (!place) {
        fields << QByteArray() << QByteArray() << QByteArray() << QByteArray();
        return;
    }
    fields << QByteArray(place->attached ? "1" : "0") << QByteArray::number(place->parent)
           << QByteArray::number(place->link) << QByteArray::number(place->signal);
}

bool knownOutcome(QByteArrayView outcome) {
    for (const RunOutcomeRow& row : kRunOutcomes)
        if (outcome == QByteArrayView(row.name)) return true;
    return false;
}

}  // namespace

namespace ledger {

QString path() { return logDirectoryPath() + QStringLiteral("/ledger.csv"); }

// "+00:00" also for UTC, never "Z": every line reads the same way.
QString timeText(const QDateTime& time) {
    if (!time.isValid()) return QString();
    const int offset = time.offsetFromUtc();
    const int minutes = (offset < 0 ? -offset : offset) / 60;
    const QDate date = time.date();
    const QTime clock = time.time();
    // Written directly: a report writes one per station, Qt's formatter is slow.
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", date.year(), date.month(), date.day(),
                  clock.hour(), clock.minute(), clock.second(), offset < 0 ? '-' : '+', minutes / 60, minutes % 60);
    return QString::fromLatin1(text);
}

QString thisHost() {
    static const QString host = QSysInfo::machineHostName();
    return host;
}

bool isHeader(const QByteArray& line) {
    return line == kHeader || line == kHeaderWithoutPlace || line == kHeaderWithoutHost || line == kHeaderWithoutSetup;
}

QByteArray formatLine(const LedgerEntry& e) {
    QList<QByteArray> fields = {timeText(e.time).toUtf8(),
                                      csvField(e.port),
                                      optionalNumber(e.address),
                                      optionalNumber(e.systemBefore),
                                      optionalNumber(e.channelBefore),
                                      csvField(e.outcome),
                                      QByteArray::number(e.code),
                                      csvField(e.backup),
                                      csvField(e.verified),
                                      QByteArray::number(e.seconds, 'f', 2),
                                      csvField(e.setup),
                                      csvField(e.note),
                                      csvField(e.host)};
    appendPlace(fields, e.place);
    return fields.join(',');
}

bool parseLine(const QByteArray& line, LedgerEntry* entry) {
    QList<QByteArray> unquoted;
    Fields fields;
    if (!splitCsv(line, &unquoted, &fields) || (fields.size() != kOldFields && fields.size() != kFieldsWithoutHost &&
                                     fields.size() != kFieldsWithoutPlace && fields.size() != kFields))
        return false;
    // Without the place columns an empty host is no host column: the line
    // is one of the twelve fields with a stray comma.
    if (fields.size() == kFieldsWithoutPlace && !hostName(fields[kHostField])) return false;
    if (fields.size() == kFields && !fields[kHostField].isEmpty() && !hostName(fields[kHostField])) return false;
    LedgerEntry e;
    e.time = parseTime(fields[0]);
    bool codeOk = false;
    bool secondsOk = false;
    e.port = QString::fromUtf8(fields[1]);
    e.outcome = QString::fromUtf8(fields[5]);
    e.code = fields[6].toInt(&codeOk);
    e.backup = QString::fromUtf8(fields[7]);
    e.verified = QString::fromUtf8(fields[8]);
    e.seconds = fields[9].toDouble(&secondsOk);
    if (fields.size() >= kFieldsWithoutHost) {
        e.setup = QString::fromUtf8(fields[10]);
        e.note = QString::fromUtf8(fields[11]);
    }
    if (fields.size() >= kFieldsWithoutPlace) e.host = QString::fromUtf8(fields[kHostField]);
    if (fields.size() == kFields && !parsePlace(fields, kPlaceField, &e.place)) return false;
    if (!e.time.isValid() || !codeOk || !secondsOk || !knownOutcome(fields[5]) ||
        !parseOptional(fields[2], &e.address) || !parseOptional(fields[3], &e.systemBefore) ||
        !parseOptional(fields[4], &e.channelBefore))
        return false;
    *entry = e;
    return true;
}

}  // namespace ledger
