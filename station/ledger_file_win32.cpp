// The ledger file on Windows: CreateFileW sharing read and write (a program
// that opened the file without write sharing, as a spreadsheet holds a CSV,
// makes the open fail with a sharing violation: busy, not refused),
// LockFileEx tried without waiting on the whole file, one WriteFile at its
// end and FlushFileBuffers before the lock is released. Disk files only.
#include <windows.h>

#include "LedgerFile.h"
#include "LedgerSync.h"

namespace {

constexpr LONGLONG kMaxLedgerBytes = LONGLONG(256) * 1024 * 1024;
constexpr DWORD kReadChunk = 64 * 1024;

QString reason(const char* what, DWORD code) { return QStringLiteral("%1 (err=%2)").arg(QLatin1String(what)).arg(code); }

HANDLE handleOf(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

bool busy(DWORD code) { return code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION || code == ERROR_IO_PENDING; }

bool seek(HANDLE file, LONGLONG offset, DWORD from) {
    LARGE_INTEGER at{};
    at.QuadPart = offset;
    return SetFilePointerEx(file, at, nullptr, from) != 0;
}

}  // namespace

bool systemFileSync(std::intptr_t handle) { return FlushFileBuffers(handleOf(handle)) != 0; }

LedgerFile::Open LedgerFile::tryOpen(const QString& path, Lock lock, bool create, QString* error) {
    close();
    const bool exclusive = lock == Lock::Exclusive;
    const std::wstring name = path.toStdWString();
    // A directory cannot be opened this way (no backup semantics): refused.
    HANDLE file = CreateFileW(name.c_str(), exclusive ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, exclusive && create ? OPEN_ALWAYS : OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        if (busy(code)) return Open::Busy;
        if (!create && (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND)) return Open::Missing;
        *error = reason("cannot open", code);
        return Open::Refused;
    }
    handle_ = reinterpret_cast<std::intptr_t>(file);
    if (GetFileType(file) != FILE_TYPE_DISK) {
        *error = QStringLiteral("not a regular file");
        close();
        return Open::Refused;
    }
    OVERLAPPED whole{};
    const DWORD flags = LOCKFILE_FAIL_IMMEDIATELY | (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
    if (LockFileEx(file, flags, 0, MAXDWORD, MAXDWORD, &whole)) return Open::Opened;
    const DWORD code = GetLastError();
    close();
    if (busy(code)) return Open::Busy;
    *error = reason("cannot lock", code);
    return Open::Refused;
}

void LedgerFile::close() {
    // Closing the handle releases its lock.
    if (handle_ != -1) CloseHandle(handleOf(handle_));
    handle_ = -1;
}

Result<QString> LedgerFile::readAll(QByteArray* bytes) {
    bytes->clear();
    HANDLE file = handleOf(handle_);
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size) || size.QuadPart > kMaxLedgerBytes)
        return failure(QStringLiteral("larger than %1 MiB").arg(kMaxLedgerBytes >> 20));
    if (!seek(file, 0, FILE_BEGIN)) return failure(reason("cannot read", GetLastError()));
    char buffer[kReadChunk];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file, buffer, kReadChunk, &got, nullptr)) {
            bytes->clear();
            return failure(reason("cannot read", GetLastError()));
        }
        if (got == 0) return {};
        if (bytes->size() + got > kMaxLedgerBytes) {
            bytes->clear();
            return failure(QStringLiteral("larger than %1 MiB").arg(kMaxLedgerBytes >> 20));
        }
        bytes->append(buffer, static_cast<int>(got));
    }
}

Result<QString> LedgerFile::append(const QByteArray& header, const QByteArray& bytes) {
    HANDLE file = handleOf(handle_);
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size)) return failure(reason("cannot stat", GetLastError()));
    QByteArray chunk;
    if (size.QuadPart == 0) {
        chunk = header;
    } else {
        // A line torn by a crash earlier is ended, so this one stays whole.
        char last = '\n';
        DWORD got = 0;
        if (seek(file, size.QuadPart - 1, FILE_BEGIN) && ReadFile(file, &last, 1, &got, nullptr) && got == 1 &&
            last != '\n')
            chunk = "\n";
    }
    chunk += bytes;
    DWORD written = 0;
    const bool ok = seek(file, 0, FILE_END) &&
                    WriteFile(file, chunk.constData(), static_cast<DWORD>(chunk.size()), &written, nullptr) &&
                    written == static_cast<DWORD>(chunk.size());
    if (!ok) {
        const Result<QString> failed = failure(reason("cannot write", GetLastError()));
        // Take back a partial line, so the file never holds half of one.
        if (seek(file, size.QuadPart, FILE_BEGIN)) SetEndOfFile(file);
        return failed;
    }
    if (!ledger::syncFile(handle_)) return failure(reason("cannot flush", GetLastError()));
    return {};
}

Result<QString> LedgerFile::truncate() {
    HANDLE file = handleOf(handle_);
    if (!seek(file, 0, FILE_BEGIN) || !SetEndOfFile(file)) return failure(reason("cannot empty", GetLastError()));
    if (!ledger::syncFile(handle_)) return failure(reason("cannot flush", GetLastError()));
    return {};
}
