#include "PortOpenDiagnosis.h"

#include "PortOpenFailure.h"

QString explainPortOpenFailure(const std::wstring& devicePath) {
    const PortOpenDiagnosis found = diagnosePortOpen(devicePath);
    const QString listed = QStringLiteral("'rechannel-cli ports' lists the ports");
    switch (found.kind) {
    case PortOpenFailure::NoPath:
        return QStringLiteral("%1: pass --port PATH (see 'rechannel-cli ports')").arg(found.reason);
    case PortOpenFailure::NoSuchDevice:
    case PortOpenFailure::NotSerialPort:
        return QStringLiteral("%1 (%2)").arg(found.reason, found.fix.isEmpty() ? listed : found.fix + ' ' + listed);
    default:
        return found.text();
    }
}
