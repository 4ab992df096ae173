// The ledger's append on POSIX: flock on the file itself, one write(2) of
// the whole line with O_APPEND, fsync before the lock is released.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <cerrno>
#include <cstring>

#include "Ledger.h"
#include "RegularFile.h"

namespace {

QString reason(const char* what) { return QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(std::strerror(errno))); }

}  // namespace

bool appendLocked(const QString& file, const QByteArray& header, const QByteArray& bytes, QString* error) {
    const QByteArray name = QFile::encodeName(file);
    // A FIFO at the path must not hold the run's outcome back waiting for a
    // reader; anything but a regular file is refused. Closing the file
    // releases the lock, whatever way the append ends.
    QFile out;
    QString why;
    const RegularFileOpen opened = openRegularFile(out, file, RegularFileMode::Append, &why);
    if (opened == RegularFileOpen::NotRegular) return *error = QStringLiteral("not a regular file"), false;
    if (opened != RegularFileOpen::Opened) return *error = QStringLiteral("cannot open: %1").arg(why), false;
    const int fd = out.handle();
    int locked = -1;
    do locked = ::flock(fd, LOCK_EX);
    while (locked != 0 && errno == EINTR);
    if (locked != 0) return *error = reason("cannot lock"), false;

    struct stat st {};
    if (::fstat(fd, &st) != 0) return *error = reason("cannot stat"), false;
    QByteArray chunk;
    if (st.st_size == 0) {
        chunk = header;
    } else {
        // A line torn by a crash earlier is ended, so this one stays whole.
        char last = '\n';
        const int in = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (in >= 0) {
            if (::pread(in, &last, 1, st.st_size - 1) != 1) last = '\n';
            ::close(in);
        }
        if (last != '\n') chunk = "\n";
    }
    chunk += bytes;

    const ssize_t written = ::write(fd, chunk.constData(), static_cast<size_t>(chunk.size()));
    if (written != chunk.size()) {
        *error = written < 0 ? reason("cannot write") : QStringLiteral("disk full");
        // Take back a partial line, so the ledger never holds half of one.
        if (written > 0 && ::ftruncate(fd, st.st_size) != 0) {}
        return false;
    }
    if (::fsync(fd) != 0) return *error = reason("cannot flush"), false;
    return true;
}
