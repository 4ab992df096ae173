#include "FaultOption.h"

#include <QStringList>

namespace {

bool toInt(const QString& text, int min, int max, int* out) {
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < min || value > max) return false;
    *out = value;
    return true;
}

bool parseKind(const QString& kind, const QString& args, sim::Fault* fault) {
    using Kind = sim::Fault::Kind;
    static const struct {
        const char* name;
        Kind kind;
    } kPlain[] = {{"noreply", Kind::NoReply},         {"badcrc", Kind::BadCrc},
                  {"echo", Kind::Echo},               {"oversized", Kind::OversizedLength},
                  {"ignorewrite", Kind::IgnoreWrite}};
    for (const auto& plain : kPlain) {
        if (kind == QLatin1String(plain.name)) {
            fault->kind = plain.kind;
            return args.isEmpty();
        }
    }
    if (kind == QLatin1String("delay")) {
        fault->kind = Kind::Delay;
        return toInt(args, 0, 600000, &fault->delayMs);
    }
    if (kind == QLatin1String("garbage")) {
        fault->kind = Kind::GarbageBefore;
        return toInt(args, 1, 255, &fault->garbageBytes);
    }
    if (kind == QLatin1String("datalen")) {
        fault->kind = Kind::WrongDataLength;
        return toInt(args, 0, 255, &fault->dataLength);
    }
    if (kind == QLatin1String("status")) {
        int status = 0;
        if (!toInt(args, 1, 255, &status)) return false;
        fault->kind = Kind::Status;
        fault->status = static_cast<std::uint8_t>(status);
        return true;
    }
    if (kind == QLatin1String("pieces")) {
        const QStringList parts = args.split(QLatin1Char(','));
        fault->kind = Kind::Pieces;
        return parts.size() == 2 && toInt(parts[0], 1, 255, &fault->pieceBytes) && toInt(parts[1], 0, 60000, &fault->gapMs);
    }
    return false;
}

}  // namespace

bool applyFaultOption(const QString& text, sim::FaultScript& script, QString* error) {
    const auto fail = [&]() {
        if (error) *error = QStringLiteral("bad --fault '%1' (expected KIND[=ARGS][@N|@*])").arg(text);
        return false;
    };
    QString body = text.trimmed();
    QString when = QStringLiteral("*");
    const int at = body.lastIndexOf(QLatin1Char('@'));
    if (at >= 0) {
        when = body.mid(at + 1);
        body = body.left(at);
    }
    const int eq = body.indexOf(QLatin1Char('='));
    const QString kind = eq >= 0 ? body.left(eq) : body;
    const QString args = eq >= 0 ? body.mid(eq + 1) : QString();

    int exchange = -1;
    if (when != QLatin1String("*") && !toInt(when, 0, 1000000000, &exchange)) return fail();

    if (kind == QLatin1String("powerlost")) {
        if (exchange < 0 || !args.isEmpty()) return fail();
        script.powerLostFrom(exchange);
        return true;
    }
    sim::Fault fault;
    if (!parseKind(kind, args, &fault)) return fail();
    if (exchange < 0)
        script.always(fault);
    else
        script.at(exchange, fault);
    return true;
}
