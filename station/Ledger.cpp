#include "Ledger.h"

#include <QStringList>

#include "LogDirectory.h"

namespace {

constexpr int kOldFields = 10;   // lines written before the setup and note columns
constexpr int kFields = 12;

// RFC 4180: a field with a comma, a quote or a line end is quoted, its
// quotes doubled (ports and home directories may hold commas).
QByteArray csvField(const QString& text) {
    QByteArray bytes = text.toUtf8();
    if (!bytes.contains(',') && !bytes.contains('"') && !bytes.contains('\n') && !bytes.contains('\r')) return bytes;
    bytes.replace("\"", "\"\"");
    return '"' + bytes + '"';
}

bool splitCsv(const QByteArray& line, QList<QByteArray>* fields) {
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
            fields->append(field);
            field.clear();
        } else {
            field += c;
        }
    }
    if (quoted) return false;
    fields->append(field);
    return true;
}

QByteArray optionalNumber(const std::optional<int>& value) {
    return value ? QByteArray::number(*value) : QByteArray();
}

bool parseOptional(const QByteArray& text, std::optional<int>* value) {
    if (text.isEmpty()) {
        value->reset();
        return true;
    }
    bool ok = false;
    const int number = text.toInt(&ok);
    if (ok) *value = number;
    return ok;
}

bool knownOutcome(const QByteArray& outcome) {
    for (const RunOutcomeRow& row : kRunOutcomes)
        if (outcome == row.name) return true;
    return false;
}

}  // namespace

namespace ledger {

QString path() { return logDirectoryPath() + QStringLiteral("/ledger.csv"); }

// "+00:00" also for UTC, never "Z": every line reads the same way.
QString timeText(const QDateTime& time) {
    const int offset = time.offsetFromUtc();
    const int minutes = (offset < 0 ? -offset : offset) / 60;
    return time.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")) + QLatin1Char(offset < 0 ? '-' : '+') +
           QStringLiteral("%1:%2").arg(minutes / 60, 2, 10, QLatin1Char('0')).arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

QByteArray formatLine(const LedgerEntry& e) {
    const QList<QByteArray> fields = {timeText(e.time).toUtf8(),
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
                                      csvField(e.note)};
    return fields.join(',');
}

bool parseLine(const QByteArray& line, LedgerEntry* entry) {
    QList<QByteArray> fields;
    if (!splitCsv(line, &fields) || (fields.size() != kOldFields && fields.size() != kFields)) return false;
    LedgerEntry e;
    e.time = QDateTime::fromString(QString::fromUtf8(fields[0]), Qt::ISODate);
    bool codeOk = false;
    bool secondsOk = false;
    e.port = QString::fromUtf8(fields[1]);
    e.outcome = QString::fromUtf8(fields[5]);
    e.code = fields[6].toInt(&codeOk);
    e.backup = QString::fromUtf8(fields[7]);
    e.verified = QString::fromUtf8(fields[8]);
    e.seconds = fields[9].toDouble(&secondsOk);
    if (fields.size() == kFields) {
        e.setup = QString::fromUtf8(fields[10]);
        e.note = QString::fromUtf8(fields[11]);
    }
    if (!e.time.isValid() || !codeOk || !secondsOk || !knownOutcome(fields[5]) ||
        !parseOptional(fields[2], &e.address) || !parseOptional(fields[3], &e.systemBefore) ||
        !parseOptional(fields[4], &e.channelBefore))
        return false;
    *entry = e;
    return true;
}

}  // namespace ledger
