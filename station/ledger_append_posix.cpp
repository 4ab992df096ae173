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

namespace {

QString reason(const char* what) { return QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(std::strerror(errno))); }

// Closing the descriptor releases the lock, whatever way the append ends.
class LockedFile {
public:
    explicit LockedFile(int fd) : fd_(fd) {}
    ~LockedFile() {
        if (fd_ >= 0) ::close(fd_);
    }
    LockedFile(const LockedFile&) = delete;
    LockedFile& operator=(const LockedFile&) = delete;
    int fd() const { return fd_; }

private:
    int fd_;
};

}  // namespace

bool appendLocked(const QString& file, const QByteArray& header, const QByteArray& bytes, QString* error) {
    const QByteArray name = QFile::encodeName(file);
    // O_NONBLOCK: a FIFO at the path must not hold the run's outcome back
    // waiting for a reader; anything but a regular file is refused.
    LockedFile out(::open(name.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0644));
    if (out.fd() < 0) return *error = reason("cannot open"), false;
    struct stat kind {};
    if (::fstat(out.fd(), &kind) != 0) return *error = reason("cannot stat"), false;
    if (!S_ISREG(kind.st_mode)) return *error = QStringLiteral("not a regular file"), false;
    int locked = -1;
    do locked = ::flock(out.fd(), LOCK_EX);
    while (locked != 0 && errno == EINTR);
    if (locked != 0) return *error = reason("cannot lock"), false;

    struct stat st {};
    if (::fstat(out.fd(), &st) != 0) return *error = reason("cannot stat"), false;
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

    const ssize_t written = ::write(out.fd(), chunk.constData(), static_cast<size_t>(chunk.size()));
    if (written != chunk.size()) {
        *error = written < 0 ? reason("cannot write") : QStringLiteral("disk full");
        // Take back a partial line, so the ledger never holds half of one.
        if (written > 0 && ::ftruncate(out.fd(), st.st_size) != 0) {}
        return false;
    }
    if (::fsync(out.fd()) != 0) return *error = reason("cannot flush"), false;
    return true;
}
