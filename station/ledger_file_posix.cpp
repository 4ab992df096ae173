// The ledger file on POSIX: open(2) with O_NONBLOCK and the regular-file
// check on the open descriptor, flock(2) tried without waiting, one
// write(2) with O_APPEND and fsync before the lock is released.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <cerrno>
#include <cstring>

#include "LedgerFile.h"
#include "LedgerSync.h"

namespace {

constexpr qint64 kMaxLedgerBytes = qint64(256) * 1024 * 1024;
constexpr int kReadChunk = 64 * 1024;

QString reason(const char* what, int error) {
    return QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(std::strerror(error)));
}

int fd(std::intptr_t handle) { return static_cast<int>(handle); }

Result<QString> writeAll(int out, const QByteArray& bytes) {
    const ssize_t written = ::write(out, bytes.constData(), static_cast<size_t>(bytes.size()));
    if (written == bytes.size()) return {};
    return failure(written < 0 ? reason("cannot write", errno) : QStringLiteral("disk full"));
}

}  // namespace

bool systemFileSync(std::intptr_t handle) { return ::fsync(fd(handle)) == 0; }

LedgerFile::Open LedgerFile::tryOpen(const QString& path, Lock lock, bool create, QString* error) {
    close();
    const bool exclusive = lock == Lock::Exclusive;
    const int flags = (exclusive ? O_RDWR | O_APPEND | (create ? O_CREAT : 0) : O_RDONLY) | O_CLOEXEC | O_NONBLOCK;
    int opened = -1;
    do opened = ::open(QFile::encodeName(path).constData(), flags, 0644);
    while (opened < 0 && errno == EINTR);
    if (opened < 0) {
        const int code = errno;
        if (code == ENOENT && !create) return Open::Missing;
        *error = code == EISDIR ? QStringLiteral("a directory, not a regular file")
                 : code == ENXIO ? QStringLiteral("a FIFO or device, not a regular file")
                                 : reason("cannot open", code);
        return Open::Refused;
    }
    handle_ = opened;
    struct stat st {};
    if (::fstat(opened, &st) != 0) return *error = reason("cannot stat", errno), close(), Open::Refused;
    if (!S_ISREG(st.st_mode)) {
        *error = S_ISDIR(st.st_mode) ? QStringLiteral("a directory, not a regular file")
                                     : QStringLiteral("a FIFO or device, not a regular file");
        close();
        return Open::Refused;
    }
    ::fcntl(opened, F_SETFL, ::fcntl(opened, F_GETFL) & ~O_NONBLOCK);
    int locked = -1;
    do locked = ::flock(opened, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB);
    while (locked != 0 && errno == EINTR);
    if (locked == 0) return Open::Opened;
    const int code = errno;
    close();
    if (code == EWOULDBLOCK) return Open::Busy;
    *error = reason("cannot lock", code);
    return Open::Refused;
}

void LedgerFile::close() {
    if (handle_ >= 0) ::close(fd(handle_));
    handle_ = -1;
}

Result<QString> LedgerFile::readAll(QByteArray* bytes) {
    bytes->clear();
    char buffer[kReadChunk];
    for (off_t at = 0;;) {
        const ssize_t n = ::pread(fd(handle_), buffer, sizeof buffer, at);
        if (n == 0) return {};
        if (n < 0) {
            if (errno == EINTR) continue;
            bytes->clear();
            return failure(reason("cannot read", errno));
        }
        if (bytes->size() + n > kMaxLedgerBytes) {
            bytes->clear();
            return failure(QStringLiteral("larger than %1 MiB").arg(kMaxLedgerBytes >> 20));
        }
        bytes->append(buffer, static_cast<int>(n));
        at += n;
    }
}

Result<QString> LedgerFile::append(const QByteArray& header, const QByteArray& bytes) {
    const int out = fd(handle_);
    struct stat st {};
    if (::fstat(out, &st) != 0) return failure(reason("cannot stat", errno));
    QByteArray chunk;
    if (st.st_size == 0) {
        chunk = header;
    } else {
        // A line torn by a crash earlier is ended, so this one stays whole.
        char last = '\n';
        if (::pread(out, &last, 1, st.st_size - 1) == 1 && last != '\n') chunk = "\n";
    }
    chunk += bytes;
    if (Result<QString> written = writeAll(out, chunk); !written) {
        // Take back a partial line, so the file never holds half of one.
        if (::ftruncate(out, st.st_size) != 0) {}
        return written;
    }
    if (!ledger::syncFile(handle_)) return failure(reason("cannot flush", errno));
    return {};
}

Result<QString> LedgerFile::truncate() {
    if (::ftruncate(fd(handle_), 0) != 0) return failure(reason("cannot empty", errno));
    if (!ledger::syncFile(handle_)) return failure(reason("cannot flush", errno));
    return {};
}
