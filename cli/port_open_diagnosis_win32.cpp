#include <windows.h>

#include "PortOpenDiagnosis.h"

QString explainPortOpenFailure(const std::wstring& devicePath) {
    const QString path = QString::fromStdWString(devicePath);
    if (path.isEmpty()) return QStringLiteral("no port given: pass --port PATH (see 'rechannel-cli ports')");
    HANDLE handle = CreateFileW(devicePath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
        CloseHandle(handle);
        return QStringLiteral("%1 opens now; it may have been busy or unplugged a moment ago").arg(path);
    }
    const DWORD error = GetLastError();
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return QStringLiteral("no such device: %1 (is the adapter plugged in?)").arg(path);
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        return QStringLiteral("busy: %1 is held by another program").arg(path);
    default:
        return QStringLiteral("cannot open %1 (err=%2)").arg(path).arg(error);
    }
}
