#include "ChildReport.h"

#include <QList>

namespace child_report {

namespace {
constexpr char kPrefix[] = "@rechannel ";

// An address as the child writes it: decimal digits only, 0 to 65535. Not
// QByteArray::toInt, which takes a sign, spaces around the number, and
// stops at a NUL byte.
std::optional<int> addressField(const QByteArray& text) {
    if (text.isEmpty() || text.size() > 5) return std::nullopt;
    int value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (value > 0xFFFF) return std::nullopt;
    return value;
}

// A line without its end: "\n", or "\r\n" from a child whose standard error
// is a text stream.
QByteArray withoutEnd(const QByteArray& raw) {
    QByteArray line = raw;
    if (line.endsWith('\n')) line.chop(1);
    if (line.endsWith('\r')) line.chop(1);
    return line;
}
}  // namespace

QString phaseName(JobPhase phase) {
    switch (phase) {
    case JobPhase::Opening:
        return QStringLiteral("opening");
    case JobPhase::Reading:
        return QStringLiteral("reading");
    case JobPhase::Writing:
        return QStringLiteral("writing");
    case JobPhase::Verifying:
        return QStringLiteral("verifying");
    case JobPhase::Restarting:
        return QStringLiteral("restarting");
    case JobPhase::Done:
        break;
    }
    return QStringLiteral("done");
}

std::optional<JobPhase> phaseNamed(const QByteArray& name) {
    for (const JobPhase phase : {JobPhase::Opening, JobPhase::Reading, JobPhase::Writing, JobPhase::Verifying,
                                 JobPhase::Restarting, JobPhase::Done})
        if (phaseName(phase).toLatin1() == name) return phase;
    return std::nullopt;
}

QByteArray phaseLine(JobPhase phase) { return kPrefix + QByteArray("phase ") + phaseName(phase).toUtf8(); }

QByteArray addressLine(int address) { return kPrefix + QByteArray("address ") + QByteArray::number(address); }

QByteArray resultLine(std::optional<int> address, RunOutcome outcome, const QString& backup,
                      const QString& verified) {
    // Tabs separate the fields; a path holding one would be cut, so it is
    // replaced (the ledger keeps the exact path).
    QString path = backup;
    path.replace(QLatin1Char('\t'), QLatin1Char(' '));
    return kPrefix + QByteArray("result ") + (address ? QByteArray::number(*address) : QByteArray()) + '\t' +
           runOutcomeRow(outcome).name + '\t' + path.toUtf8() + '\t' + verified.toUtf8();
}

QByteArray outcomeLine(const QString& text) { return kPrefix + QByteArray("outcome ") + text.toUtf8(); }

QByteArray ledgerLine(const LedgerEntry& entry) {
    const QByteArray line = ledger::formatLine(entry);
    if (line.contains('\n') || line.contains('\r')) return QByteArray();
    return kPrefix + QByteArray("ledger ") + line;
}

Line parse(const QByteArray& raw) {
    const QByteArray line = withoutEnd(raw);
    Line parsed;
    parsed.text = QString::fromUtf8(line);
    if (!line.startsWith(kPrefix)) return parsed;
    const QByteArray rest = line.mid(static_cast<int>(sizeof kPrefix) - 1);
    if (rest.startsWith("phase ")) {
        const std::optional<JobPhase> phase = phaseNamed(rest.mid(6));
        if (!phase) return parsed;
        parsed.kind = Line::Kind::Phase;
        parsed.phase = *phase;
        parsed.text = QString::fromUtf8(rest.mid(6));
    } else if (rest.startsWith("outcome ")) {
        parsed.kind = Line::Kind::Outcome;
        parsed.text = QString::fromUtf8(rest.mid(8));
    } else if (rest.startsWith("ledger ")) {
        if (ledger::parseLine(rest.mid(7), &parsed.entry)) parsed.kind = Line::Kind::Ledger;
    } else if (rest.startsWith("address ")) {
        parsed.address = addressField(rest.mid(8));
        if (parsed.address) parsed.kind = Line::Kind::Address;
    } else if (rest.startsWith("result ")) {
        const QList<QByteArray> fields = rest.mid(7).split('\t');
        const std::optional<RunOutcome> outcome = fields.size() == 4 ? outcomeNamed(fields[1]) : std::nullopt;
        // An empty address: the run read no station; anything else that is
        // no address makes the line no result (it would undo the address
        // the run reported).
        const std::optional<int> address = outcome ? addressField(fields[0]) : std::nullopt;
        if (!outcome || (!fields[0].isEmpty() && !address)) return parsed;
        parsed.kind = Line::Kind::Result;
        parsed.address = address;
        parsed.outcome = *outcome;
        parsed.backup = QString::fromUtf8(fields[2]);
        parsed.verified = QString::fromUtf8(fields[3]);
    }
    return parsed;
}

}  // namespace child_report
