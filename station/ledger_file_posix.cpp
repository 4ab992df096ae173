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
#include "LedgerSync.h"
#include "RegularFile.h"

namespace {

constexpr qint64 kMaxLedgerBytes = qint64(256) * 1024 * 1024;
constexpr int kReadChunk = 64 * 1024;

QString reason(const char* what) { return QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(std::strerror(errno))); }

// Opens the ledger without waiting and only as a regular file (the check
// is made on the open descriptor). Closing the file releases the lock,
// whatever way the append ends. False with the reason, and *missing when
// there is no file at all.
bool openLedger(QFile& file, const QString& path, RegularFileMode mode, QString* error, bool* missing = nullptr) {
    QString why;
    const RegularFileOpen opened = openRegularFile(file, path, mode, &why);
    if (missing) *missing = opened == RegularFileOpen::Missing;
    if (opened == RegularFileOpen::Opened) return true;
    *error = opened == RegularFileOpen::NotRegular ? QStringLiteral("%1, not a regular file").arg(why)
                                                   : QStringLiteral("cannot open: %1").arg(why);
    return false;
}

}  // namespace

bool systemFileSync(std::intptr_t handle) { return ::fsync(static_cast<int>(handle)) == 0; }

bool appendLocked(const QString& file, const QByteArray& header, const QByteArray& bytes, QString* error) {
    const QByteArray name = QFile::encodeName(file);
    QFile ledger;
    if (!openLedger(ledger, file, RegularFileMode::Append, error)) return false;
    const int fd = ledger.handle();
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
    if (!ledger::syncFile(fd)) return *error = reason("cannot flush"), false;
    return true;
}

LedgerFileRead readLedgerFile(const QString& file, QByteArray* bytes, QString* error) {
    bytes->clear();
    bool missing = false;
    QFile ledger;
    if (!openLedger(ledger, file, RegularFileMode::Read, error, &missing))
        return missing ? LedgerFileRead::Missing : LedgerFileRead::Refused;
    const int fd = ledger.handle();
    char buffer[kReadChunk];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
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
