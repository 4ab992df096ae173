#include "FaultOption.h"

Result<QString> applyFaultOption(const QString& text, sim::FaultScript& script) {
    if (script.add(text.trimmed().toStdString())) return {};
    return failure(QStringLiteral("bad --fault '%1' (expected KIND[=ARGS][@N|@*])").arg(text));
}
