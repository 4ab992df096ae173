#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "PortOpenFailure.h"

PortOpenDiagnosis diagnosePortOpen(const std::wstring& devicePath) {
    const QString path = QString::fromStdWString(devicePath);
    if (path.isEmpty()) return {PortOpenFailure::NoPath, QStringLiteral("no port given"), QString()};
    const QByteArray native = path.toLocal8Bit();

    const auto permissionDenied = [&] {
        return PortOpenDiagnosis{PortOpenFailure::PermissionDenied, QStringLiteral("permission denied: %1").arg(path),
                                 QStringLiteral("add the user to the dialout group: "
                                                "sudo usermod -aG dialout $USER, then log in again")};
    };
    const auto busy = [&] {
        return PortOpenDiagnosis{PortOpenFailure::Busy, QStringLiteral("busy: %1 is held by another program").arg(path),
                                 QStringLiteral("for example a modem manager")};
    };
    const auto otherError = [&](int err) {
        return PortOpenDiagnosis{PortOpenFailure::Other,
                                 QStringLiteral("cannot open %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(err))),
                                 QString()};
    };

    struct stat info {};
    if (::stat(native.constData(), &info) != 0) {
        const int err = errno;
        if (err == ENOENT || err == ENOTDIR)
            return {PortOpenFailure::NoSuchDevice, QStringLiteral("no such device: %1").arg(path),
                    QStringLiteral("is the adapter plugged in?")};
        return err == EACCES ? permissionDenied() : otherError(err);
    }

    const int fd = ::open(native.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        if (err == EACCES || err == EPERM) return permissionDenied();
        if (err == EBUSY) return busy();
        return otherError(err);
    }
    const bool terminal = ::isatty(fd) == 1;
    const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    if (!terminal) return {PortOpenFailure::NotSerialPort, QStringLiteral("not a serial port: %1").arg(path), QString()};
    if (locked) return busy();
    return {PortOpenFailure::OpensNow,
            QStringLiteral("%1 opens now; it may have been busy or unplugged a moment ago").arg(path), QString()};
}
