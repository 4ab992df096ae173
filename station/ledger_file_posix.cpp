// The ledger file on POSIX. Every open is non-blocking and refuses anything
// but a regular file: a FIFO at the path must neither hold a run's outcome
// back waiting for a reader nor hang the ledger command. The append takes
// flock on the file itself, makes one write(2) of the whole line with
// O_APPEND and fsyncs before the lock is released.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <cerrno>
#include <cstring>

#include "Ledger.h"

namespace {

constexpr qint64 kMaxLedgerBytes = qint64(256) * 1024 * 1024;
constexpr int kReadChunk = 64 * 1024;

QString reason(const char* what) { return QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(std::strerror(errno))); }

// Closing the descriptor releases the lock, whatever way the append ends.
class LedgerFd {
public:
    explicit LedgerFd(int fd) : fd_(fd) {}
    ~LedgerFd() {
        if (fd_ >= 0) ::close(fd_);
    }
    LedgerFd(const LedgerFd&) = delete;
    LedgerFd& operator=(const LedgerFd&) = delete;
    int fd() const { return fd_; }

private:
    int fd_;
};

// Opens `name` with `flags`, never blocking, and keeps it only when it is a
// regular file; otherwise -1 with the reason, and *missing when there is no
// file at all.
int openRegular(const QByteArray& name, int flags, QString* error, bool* missing = nullptr) {
    const int fd = ::open(name.constData(), flags | O_CLOEXEC | O_NONBLOCK, 0644);
    if (missing) *missing = fd < 0 && errno == ENOENT;
    if (fd < 0) return *error = reason("cannot open"), -1;
    struct stat kind {};
    if (::fstat(fd, &kind) != 0) {
        *error = reason("cannot stat");
        ::close(fd);
        return -1;
    }
    if (!S_ISREG(kind.st_mode)) {
        *error = S_ISDIR(kind.st_mode) ? QStringLiteral("a directory, not a file")
                 : S_ISFIFO(kind.st_mode) ? QStringLiteral("a FIFO, not a regular file")
                                          : QStringLiteral("not a regular file");
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

bool appendLocked(const QString& file, const QByteArray& header, const QByteArray& bytes, QString* error) {
    const QByteArray name = QFile::encodeName(file);
    LedgerFd out(openRegular(name, O_WRONLY | O_APPEND | O_CREAT, error));
    if (out.fd() < 0) return false;
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

LedgerFileRead readLedgerFile(const QString& file, QByteArray* bytes, QString* error) {
    bytes->clear();
    bool missing = false;
    LedgerFd in(openRegular(QFile::encodeName(file), O_RDONLY, error, &missing));
    if (in.fd() < 0) return missing ? LedgerFileRead::Missing : LedgerFileRead::Refused;
    char buffer[kReadChunk];
    for (;;) {
        const ssize_t n = ::read(in.fd(), buffer, sizeof buffer);
        if (n == 0) return LedgerFileRead::Read;
        if (n < 0) {
            if (errno == EINTR) continue;
            return *error = reason("cannot read"), LedgerFileRead::Refused;
        }
        if (bytes->size() + n > kMaxLedgerBytes)
            return *error = QStringLiteral("larger than %1 MiB").arg(kMaxLedgerBytes >> 20), LedgerFileRead::Refused;
        bytes->append(buffer, static_cast<int>(n));
    }
}
