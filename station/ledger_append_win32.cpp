// The ledger's append on Windows: LockFileEx on the whole file, one
// WriteFile at its end, FlushFileBuffers before the lock is released.
#include <windows.h>

#include "Ledger.h"

namespace {

QString reason(const char* what) { return QStringLiteral("%1 (err=%2)").arg(QLatin1String(what)).arg(GetLastError()); }

}  // namespace

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
         written == static_cast<DWORD>(chunk.size()) && FlushFileBuffers(out);
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
