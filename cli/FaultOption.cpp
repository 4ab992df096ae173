#include "FaultOption.h"

bool applyFaultOption(const QString& text, sim::FaultScript& script, QString* error) {
    if (script.add(text.trimmed().toStdString())) return true;
    if (error) *error = QStringLiteral("bad --fault '%1' (expected KIND[=ARGS][@N|@*])").arg(text);
    return false;
}
