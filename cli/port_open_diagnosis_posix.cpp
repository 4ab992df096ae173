#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "PortOpenDiagnosis.h"

QString explainPortOpenFailure(const std::wstring& devicePath) {
    const QString path = QString::fromStdWString(devicePath);
    if (path.isEmpty()) return QStringLiteral("no port given: pass --port PATH (see 'rechannel-cli ports')");
    const QByteArray native = path.toLocal8Bit();

    const auto permissionDenied = [&] {
        return QStringLiteral("permission denied: %1 (add the user to the dialout group: "
                              "sudo usermod -aG dialout $USER, then log in again)")
            .arg(path);
    };
    const auto busy = [&] {
        return QStringLiteral("busy: %1 is held by another program (for example a modem manager)").arg(path);
    };
    const auto otherError = [&](int err) {
        return QStringLiteral("cannot open %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(err)));
    };

    struct stat info {};
    if (::stat(native.constData(), &info) != 0) {
        const int err = errno;
        if (err == ENOENT || err == ENOTDIR)
            return QStringLiteral(
                       "no such device: %1 (is the adapter plugged in? 'rechannel-cli ports' lists the ports)")
                .arg(path);
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
    if (!terminal) return QStringLiteral("not a serial port: %1 ('rechannel-cli ports' lists the ports)").arg(path);
    if (locked) return busy();
    return QStringLiteral("%1 opens now; it may have been busy or unplugged a moment ago").arg(path);
}
