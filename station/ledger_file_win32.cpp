// The ledger file on Windows: the append takes LockFileEx on the whole file,
// makes one WriteFile at its end and FlushFileBuffers before the lock is
// released; the read takes disk files only.
#include <windows.h>

#include "Ledger.h"
#include "LedgerSync.h"

namespace {

constexpr LONGLONG kMaxLedgerBytes = LONGLONG(256) * 1024 * 1024;
constexpr DWORD kReadChunk = 64 * 1024;

QString reason(const char* what) { return QStringLiteral("%1 (err=%2)").arg(QLatin1String(what)).arg(GetLastError()); }

}  // namespace

bool systemFileSync(std::intptr_t handle) { return FlushFileBuffers(reinterpret_cast<HANDLE>(handle)) != 0; }

bool appendLocked(const QString& file, const QByteArray& header, const QByteArray& bytes, QString* error) {
    const std::wstring name = file.toStdWString();
    HANDLE out = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE) return *error = reason("cannot open"), false;
    OVERLAPPED whole{};
    if (!LockFileEx(out, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole)) {
        *error = reason("cannot lock");
        CloseHandle(out);
        return false;
    }
    LARGE_INTEGER size{};
    bool ok = GetFileSizeEx(out, &size) != 0;
    QByteArray chunk;
    if (ok && size.QuadPart == 0) {
        chunk = header;
    } else if (ok) {
        char last = '\n';
        DWORD got = 0;
        LARGE_INTEGER at{};
        at.QuadPart = size.QuadPart - 1;
        if (SetFilePointerEx(out, at, nullptr, FILE_BEGIN) && ReadFile(out, &last, 1, &got, nullptr) && got == 1 &&
            last != '\n')
            chunk = "\n";
    }
    chunk += bytes;
    LARGE_INTEGER end{};
    DWORD written = 0;
    ok = ok && SetFilePointerEx(out, end, nullptr, FILE_END) &&
         WriteFile(out, chunk.constData(), static_cast<DWORD>(chunk.size()), &written, nullptr) &&
         written == static_cast<DWORD>(chunk.size()) && ledger::syncFile(reinterpret_cast<std::intptr_t>(out));
    if (!ok) {
        *error = reason("cannot write");
        if (written > 0) {
            SetFilePointerEx(out, size, nullptr, FILE_BEGIN);
            SetEndOfFile(out);
        }
    }
    UnlockFileEx(out, 0, MAXDWORD, MAXDWORD, &whole);
    CloseHandle(out);
    return ok;
}

LedgerFileRead readLedgerFile(const QString& file, QByteArray* bytes, QString* error) {
    bytes->clear();
    const std::wstring name = file.toStdWString();
    // A directory cannot be opened this way (no backup semantics): refused.
    HANDLE in = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
    if (in == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return LedgerFileRead::Missing;
        *error = reason("cannot open");
        return LedgerFileRead::Refused;
    }
    LedgerFileRead result = LedgerFileRead::Read;
    LARGE_INTEGER size{};
    if (GetFileType(in) != FILE_TYPE_DISK) {
        *error = QStringLiteral("not a regular file");
        result = LedgerFileRead::Refused;
    } else if (!GetFileSizeEx(in, &size) || size.QuadPart > kMaxLedgerBytes) {
        *error = QStringLiteral("larger than %1 MiB").arg(kMaxLedgerBytes >> 20);
        result = LedgerFileRead::Refused;
    }
    char buffer[kReadChunk];
    while (result == LedgerFileRead::Read) {
        DWORD got = 0;
        if (!ReadFile(in, buffer, kReadChunk, &got, nullptr)) {
            *error = reason("cannot read");
            result = LedgerFileRead::Refused;
        } else if (got == 0) {
            break;
        } else if (bytes->size() + got > kMaxLedgerBytes) {
            *error = QStringLiteral("larger than %1 MiB").arg(kMaxLedgerBytes >> 20);
            result = LedgerFileRead::Refused;
        } else {
            bytes->append(buffer, static_cast<int>(got));
        }
    }
    CloseHandle(in);
    if (result != LedgerFileRead::Read) bytes->clear();
    return result;
}
