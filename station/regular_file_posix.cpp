// POSIX: open(2) with O_NONBLOCK, then fstat(2) on the descriptor.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "RegularFile.h"

namespace {

QString systemReason(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

}  // namespace

RegularFileOpen openRegularFile(QFile& file, const QString& path, RegularFileMode mode, QString* why) {
    const QByteArray name = QFile::encodeName(path);
    const bool reading = mode == RegularFileMode::Read;
    const int flags = (reading ? O_RDONLY : O_WRONLY | O_APPEND | O_CREAT) | O_CLOEXEC | O_NONBLOCK;
    int fd = -1;
    do fd = ::open(name.constData(), flags, 0644);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        const int error = errno;
        *why = systemReason(error);
        if (error == ENOENT) return RegularFileOpen::Missing;
        if (error == EISDIR) return *why = QStringLiteral("a directory"), RegularFileOpen::NotRegular;
        // A FIFO without a reader, opened for writing without waiting.
        if (error == ENXIO) return *why = QStringLiteral("a FIFO or device"), RegularFileOpen::NotRegular;
        return RegularFileOpen::Failed;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        *why = systemReason(errno);
        ::close(fd);
        return RegularFileOpen::Failed;
    }
    if (!S_ISREG(st.st_mode)) {
        *why = S_ISDIR(st.st_mode) ? QStringLiteral("a directory") : QStringLiteral("a FIFO or device");
        ::close(fd);
        return RegularFileOpen::NotRegular;
    }
    // A regular file never blocks; the flag goes so nothing downstream sees it.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    const QIODevice::OpenMode qtMode =
        reading ? QIODevice::ReadOnly : QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered;
    if (!file.open(fd, qtMode, QFileDevice::AutoCloseHandle)) {
        *why = file.errorString();
        ::close(fd);
        return RegularFileOpen::Failed;
    }
    return RegularFileOpen::Opened;
}
