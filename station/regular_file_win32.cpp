// Windows: CreateFileW, then GetFileType on the handle (pipes and character
// devices are no disk files); a directory does not open as a file at all.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <QFileInfo>

#include "RegularFile.h"

namespace {

QString systemReason(DWORD error) { return QStringLiteral("err=%1").arg(error); }

}  // namespace

RegularFileOpen openRegularFile(QFile& file, const QString& path, RegularFileMode mode, QString* why) {
    const std::wstring name = path.toStdWString();
    const bool reading = mode == RegularFileMode::Read;
    HANDLE handle = CreateFileW(name.c_str(), reading ? GENERIC_READ : FILE_APPEND_DATA,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                reading ? OPEN_EXISTING : OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        *why = systemReason(error);
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return RegularFileOpen::Missing;
        if (QFileInfo(path).isDir()) return *why = QStringLiteral("a directory"), RegularFileOpen::NotRegular;
        return RegularFileOpen::Failed;
    }
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        CloseHandle(handle);
        *why = QStringLiteral("a FIFO or device");
        return RegularFileOpen::NotRegular;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), reading ? _O_RDONLY : _O_WRONLY | _O_APPEND);
    if (fd < 0) {
        CloseHandle(handle);
        *why = QStringLiteral("no descriptor for the handle");
        return RegularFileOpen::Failed;
    }
    const QIODevice::OpenMode qtMode =
        reading ? QIODevice::ReadOnly : QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered;
    if (!file.open(fd, qtMode, QFileDevice::AutoCloseHandle)) {
        *why = file.errorString();
        _close(fd);
        return RegularFileOpen::Failed;
    }
    return RegularFileOpen::Opened;
}
