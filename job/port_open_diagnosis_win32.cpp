#include <windows.h>

#include "PortOpenFailure.h"

PortOpenDiagnosis diagnosePortOpen(const std::wstring& devicePath) {
    const QString path = QString::fromStdWString(devicePath);
    if (path.isEmpty()) return {PortOpenFailure::NoPath, QStringLiteral("no port given"), QString()};
    HANDLE handle = CreateFileW(devicePath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
        CloseHandle(handle);
        return {PortOpenFailure::OpensNow,
                QStringLiteral("%1 opens now; it may have been busy or unplugged a moment ago").arg(path), QString()};
    }
    const DWORD error = GetLastError();
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return {PortOpenFailure::NoSuchDevice, QStringLiteral("no such device: %1").arg(path),
                QStringLiteral("is the adapter plugged in?")};
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        return {PortOpenFailure::Busy, QStringLiteral("busy: %1 is held by another program").arg(path), QString()};
    default:
        return {PortOpenFailure::Other, QStringLiteral("cannot open %1 (err=%2)").arg(path).arg(error), QString()};
    }
}
