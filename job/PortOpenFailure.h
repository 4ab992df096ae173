#pragma once
// Why a serial port could not be opened, found by looking at the device again
// after the failed open: the window's trace and rechannel-cli both say it.
#include <QString>
#include <string>

enum class PortOpenFailure { NoPath, NoSuchDevice, PermissionDenied, Busy, NotSerialPort, OpensNow, Other };

struct PortOpenDiagnosis {
    PortOpenFailure kind = PortOpenFailure::Other;
    QString reason;   // "busy: /dev/ttyUSB0 is held by another program"
    QString fix;      // what the operator can do; may be empty

    // "reason (fix)", or the reason alone.
    QString text() const { return fix.isEmpty() ? reason : QStringLiteral("%1 (%2)").arg(reason, fix); }
};

// The platform part (one source file per platform).
PortOpenDiagnosis diagnosePortOpen(const std::wstring& devicePath);
