#include "StationPlan.h"

#include <QFile>
#include <algorithm>
#include <map>

#include "Ledger.h"
#include "ReportInput.h"

namespace {

// A plan of the whole 16-bit address space is a few megabytes; anything
// much larger is no plan, and is not read into memory.
constexpr qint64 kMaxPlanBytes = 32 * 1024 * 1024;
// A record (a line, or lines joined by a quoted line end) far longer than
// any station's name and place is a quote left open: it is cut there.
constexpr int kMaxRecordChars = 64 * 1024;
// Problems named one by one; the rest are counted.
constexpr int kNamedProblems = 10;
constexpr int kMaxAddress = 0xFFFF;

// Windows-1251 from 0x80 on (from 0xC0 the Cyrillic alphabet in order): what
// a spreadsheet set for Russian saves a CSV in.
constexpr char16_t kWindows1251High[64] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A,
    0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0xFFFD, 0x2122,
    0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6,
    0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456,
    0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457};

QString fromWindows1251(const QByteArray& bytes) {
    QString text(bytes.size(), Qt::Uninitialized);
    QChar* out = text.data();
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        *out++ = b < 0x80 ? QChar(b) : b < 0xC0 ? QChar(kWindows1251High[b - 0x80]) : QChar(char16_t(0x0410 + (b - 0xC0)));
    }
    return text;
}

// UTF-8 (a byte-order mark dropped) when the bytes are UTF-8, otherwise
// Windows-1251.
QString decodePlan(QByteArray bytes) {
    if (bytes.startsWith("\xEF\xBB\xBF")) bytes.remove(0, 3);
    return bytes.isValidUtf8() ? QString::fromUtf8(bytes) : fromWindows1251(bytes);
}

struct Record {
    QStringList fields;
    int line = 0;          // its first line
    bool broken = false;   // a quote left open
};

// Splits CSV text (RFC 4180: quoted fields with doubled quotes and line
// ends) into records, one at a time.
class RecordReader {
public:
    RecordReader(const QString& text, QChar separator) : text_(text), separator_(separator) {}

    bool next(Record* record) {
        while (at_ < text_.size() && (text_[at_] == QLatin1Char('\n') || text_[at_] == QLatin1Char('\r'))) {
            if (text_[at_] == QLatin1Char('\n')) ++line_;
            ++at_;
        }
        if (at_ >= text_.size()) return false;
        *record = Record{};
        record->line = line_;
        const qsizetype start = at_;
        QString field;
        bool quoted = false;
        for (; at_ < text_.size(); ++at_) {
            const QChar c = text_[at_];
            if (at_ - start > kMaxRecordChars) return cut(record, start);
            if (quoted) {
                if (c == QLatin1Char('\n')) ++line_;
                if (c != QLatin1Char('"')) field += c;
                else if (at_ + 1 < text_.size() && text_[at_ + 1] == QLatin1Char('"')) field += text_[++at_];
                else quoted = false;
            } else if (c == QLatin1Char('"') && field.trimmed().isEmpty()) {
                quoted = true;
                field.clear();
            } else if (c == separator_) {
                record->fields << field;
                field.clear();
            } else if (c == QLatin1Char('\n')) {
                break;
            } else if (c != QLatin1Char('\r')) {
                field += c;
            }
        }
        record->fields << field;
        if (quoted) return cut(record, start);
        return true;
    }

private:
    // A quote that never closes: the record is its first line alone, named
    // as broken, and reading goes on from the line after it.
    bool cut(Record* record, qsizetype start) {
        record->broken = true;
        const qsizetype end = text_.indexOf(QLatin1Char('\n'), start);
        at_ = end < 0 ? text_.size() : end;
        line_ = record->line;
        return true;
    }

    const QString& text_;
    const QChar separator_;
    qsizetype at_ = 0;
    int line_ = 1;
};

// The header's separator: a semicolon when the first line has more of them
// than commas (a spreadsheet set for a decimal comma saves so).
QChar separatorOf(const QString& text) {
    const qsizetype end = text.indexOf(QLatin1Char('\n'));
    const QStringView first = QStringView(text).left(end < 0 ? text.size() : end);
    return first.count(QLatin1Char(';')) > first.count(QLatin1Char(',')) ? QLatin1Char(';') : QLatin1Char(',');
}

// Which column holds what; -1 for a column the plan does not have.
struct Columns {
    int address = -1, name = -1, place = -1;
};

Columns columnsOf(const QStringList& header) {
    Columns columns;
    for (int i = 0; i < header.size(); ++i) {
        const QString name = header[i].trimmed().toLower();
        int* column = nullptr;
        if (name == QLatin1String("address") || name == QStringLiteral("адрес")) column = &columns.address;
        else if (name == QLatin1String("name") || name == QStringLiteral("название") || name == QStringLiteral("имя")) column = &columns.name;
        else if (name == QLatin1String("place") || name == QStringLiteral("место")) column = &columns.place;
        if (column && *column < 0) *column = i;
    }
    return columns;
}

// Why the file is no plan though it may have an address column: a ledger,
// or what a report wrote. Empty when it may be a plan.
QString notAPlan(const QString& text) {
    const QStringView all = QStringView(text).trimmed();
    const qsizetype end = all.indexOf(QLatin1Char('\n'));
    const QByteArray first = all.left(end < 0 ? all.size() : end).trimmed().toUtf8();
    LedgerEntry entry;
    if (ledger::isHeader(first) || ledger::parseLine(first, &entry)) return QStringLiteral("is a ledger, not a plan");
    if (first.startsWith("address,setup,state,outcome,")) return QStringLiteral("is a report's CSV of stations, not a plan");
    const QString start = QString::fromUtf8(first.left(64)).toLower();
    if (start.startsWith(QLatin1String("<!doctype html")) || start.startsWith(QLatin1String("<html")))
        return QStringLiteral("is an HTML page (a report?), not a plan");
    return QString();
}

// "291", "0x123": the address, or -1 when the text is no number; -2 when it
// is one outside 0..65535.
int parseAddress(const QString& text) {
    const QString t = text.trimmed();
    bool ok = false;
    const bool hex = t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive);
    const qlonglong value = hex ? t.mid(2).toLongLong(&ok, 16) : t.toLongLong(&ok, 10);
    if (!ok || (hex && t.size() == 2) || t.contains(QLatin1Char('+'))) return -1;
    return value < 0 || value > kMaxAddress ? -2 : int(value);
}

class Problems {
public:
    Problems(const QString& name, QStringList* out) : name_(name), out_(out) {}
    void add(int line, const QString& what) {
        if (++count_ <= kNamedProblems) out_->append(QStringLiteral("%1:%2: %3").arg(name_).arg(line).arg(what));
    }
    ~Problems() {
        if (count_ > kNamedProblems)
            out_->append(QStringLiteral("%1: %2 more lines left out of the plan").arg(name_).arg(count_ - kNamedProblems));
    }

private:
    const QString& name_;
    QStringList* out_;
    int count_ = 0;
};

QString field(const Record& record, int column) {
    return column >= 0 && column < record.fields.size() ? record.fields[column].trimmed() : QString();
}

}  // namespace

const PlanStation* StationPlan::find(int address) const {
    const auto at = std::lower_bound(stations.begin(), stations.end(), address,
                                     [](const PlanStation& s, int a) { return s.address < a; });
    return at != stations.end() && at->address == address ? &*at : nullptr;
}

bool parseStationPlan(const QByteArray& bytes, const QString& name, StationPlan* plan, QStringList* problems) {
    const QString text = decodePlan(bytes);
    RecordReader reader(text, separatorOf(text));
    Record header;
    if (!reader.next(&header) || header.broken) return problems->append(QStringLiteral("%1: an empty file, not a plan").arg(name)), false;
    const QString why = notAPlan(text);
    if (!why.isEmpty()) return problems->append(QStringLiteral("%1: %2; give the plan of the network").arg(name, why)), false;
    const Columns columns = columnsOf(header.fields);
    if (columns.address < 0)
        return problems->append(QStringLiteral("%1: no column 'address' in its first line; a plan's header names the columns, "
                                               "e.g. address,name,place").arg(name)), false;

    std::map<int, PlanStation> stations;
    Problems named(name, problems);
    Record record;
    while (reader.next(&record)) {
        if (record.broken) {
            named.add(record.line, QStringLiteral("a quote is not closed; line left out"));
            continue;
        }
        if (record.fields.size() == 1 && record.fields[0].trimmed().isEmpty()) continue;
        const QString text = field(record, columns.address);
        const int address = parseAddress(text);
        if (address < 0) {
            named.add(record.line, address == -2 ? QStringLiteral("address %1 is outside 0..65535; left out").arg(text)
                                                 : QStringLiteral("address '%1' is no number (decimal, or hex with 0x); left out").arg(text));
            continue;
        }
        const PlanStation station{address, field(record, columns.name), field(record, columns.place), record.line};
        const auto [at, added] = stations.emplace(address, station);
        if (!added) named.add(record.line, QStringLiteral("address %1 again (first on line %2); counted once").arg(address).arg(at->second.line));
    }
    plan->given = true;
    plan->path = name;
    plan->stations.clear();
    plan->stations.reserve(stations.size());
    for (auto& entry : stations) plan->stations.push_back(std::move(entry.second));
    return true;
}

bool readStationPlan(const QString& path, StationPlan* plan, QStringList* problems) {
    QFile file;
    if (!openReportInput(file, path, problems)) return false;
    if (file.size() > kMaxPlanBytes) {
        problems->append(QStringLiteral("%1: %2 bytes, far too large for a plan of the network").arg(path).arg(file.size()));
        return false;
    }
    const QByteArray bytes = file.read(kMaxPlanBytes + 1);
    if (file.error() != QFileDevice::NoError || bytes.size() > kMaxPlanBytes) {
        problems->append(QStringLiteral("%1: the plan cannot be read (%2)").arg(path, file.errorString()));
        return false;
    }
    return parseStationPlan(bytes, path, plan, problems);
}
