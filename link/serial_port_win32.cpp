// SerialPort over the Win32 communications API. The driver's own time-outs
// give the station's read timing: a 2 ms interval between bytes and a total
// of constant + 100 ms per byte.

#include "LineFacts.h"
#include "SerialPort.h"

#include <windows.h>

#include <cwctype>

struct SerialPort::Handle {
    HANDLE h = INVALID_HANDLE_VALUE;
    HANDLE claim = nullptr;   // the port's named mutex, held while open
};

namespace {

constexpr DWORD kIntervalMs = line::kInterByteGapMs;
constexpr DWORD kTotalMsPerByte = line::kReadMsPerByte;

bool applyLineSettings(HANDLE h, std::uint16_t rate) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(h, &dcb)) return false;
    // Only these fields change; the rest keep what the driver reported.
    dcb.BaudRate = rate;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = 1;
    dcb.fParity = 0;
    dcb.fOutxCtsFlow = 0;
    dcb.fOutxDsrFlow = 0;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fDsrSensitivity = 0;
    dcb.fTXContinueOnXoff = 1;
    dcb.fOutX = 0;
    dcb.fInX = 0;
    dcb.fErrorChar = 0;
    dcb.fNull = 0;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fAbortOnError = 0;
    return SetCommState(h, &dcb) != 0;
}

bool applyTimeouts(HANDLE h) {
    COMMTIMEOUTS t{};
    if (!GetCommTimeouts(h, &t)) return false;
    t.ReadIntervalTimeout = kIntervalMs;
    t.ReadTotalTimeoutMultiplier = kTotalMsPerByte;
    t.ReadTotalTimeoutConstant = SerialPort::kDefaultReadTimeoutMs;
    t.WriteTotalTimeoutMultiplier = 0;
    t.WriteTotalTimeoutConstant = 0;
    return SetCommTimeouts(h, &t) != 0;
}

// Windows' serial drivers refuse a second open of a port themselves, but Wine
// checks the share mode only for files, so there two of our runs could drive
// one station at once. A named mutex per port, held while it is open, keeps
// our own processes off a port that one of them holds, wherever we run.
// "\\.\COM5", "\\.\com5" and "COM5" name the same port.
HANDLE claimPort(const std::wstring& devicePath) {
    std::wstring port = devicePath;
    const std::wstring deviceNamespace = L"\\\\.\\";
    if (port.compare(0, deviceNamespace.size(), deviceNamespace) == 0) port.erase(0, deviceNamespace.size());
    std::wstring name = L"Local\\rechannel-port-";
    for (wchar_t c : port) name += c == L'\\' ? L'_' : static_cast<wchar_t>(towupper(c));
    HANDLE claim = CreateMutexW(nullptr, FALSE, name.c_str());
    if (claim && GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(claim);
        return nullptr;
    }
    return claim;
}

}  // namespace

SerialPort::Handle* SerialPort::openHandle(const std::wstring& devicePath, std::uint16_t rate) {
    HANDLE claim = claimPort(devicePath);
    if (!claim) return nullptr;
    // Share mode 0: nobody else may hold the port while we do.
    HANDLE h = CreateFileW(devicePath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        CloseHandle(claim);
        return nullptr;
    }

    const bool ok = applyLineSettings(h, rate) && applyTimeouts(h) &&
                    PurgeComm(h, PURGE_TXCLEAR | PURGE_RXCLEAR) && SetCommMask(h, EV_RXCHAR);
    if (!ok) {
        CloseHandle(h);   // never left half-configured
        CloseHandle(claim);
        return nullptr;
    }
    return new Handle{h, claim};
}

bool SerialPort::applyReadTimeout(Handle& handle, std::uint32_t constantMs) {
    COMMTIMEOUTS t{};
    if (!GetCommTimeouts(handle.h, &t)) return false;
    t.ReadTotalTimeoutConstant = constantMs;
    return SetCommTimeouts(handle.h, &t) != 0;
}

// The driver times the read with the time-outs set on the handle.
int SerialPort::readBytes(Handle& handle, std::uint8_t* dest, int count, std::uint32_t) {
    DWORD got = 0;
    // A timed-out or failed read still reports what it delivered.
    ReadFile(handle.h, dest, static_cast<DWORD>(count), &got, nullptr);
    if (got > static_cast<DWORD>(count)) got = 0;
    return static_cast<int>(got);
}

bool SerialPort::writeBytes(Handle& handle, const std::uint8_t* src, int count, int& written) {
    // Also clears any pending line error (framing, parity, overrun).
    DWORD errors = 0;
    COMSTAT status{};
    if (ClearCommError(handle.h, &errors, &status) && (status.cbInQue > 0 || status.cbOutQue > 0)) {
        // Stale bytes from an earlier exchange must never reach the next reply.
        PurgeComm(handle.h, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
    }
    DWORD done = 0;
    const BOOL ok = WriteFile(handle.h, src, static_cast<DWORD>(count), &done, nullptr);
    written = static_cast<int>(done);
    return ok != 0;
}

void SerialPort::releaseHandle(Handle* handle) {
    CloseHandle(handle->h);
    CloseHandle(handle->claim);
    delete handle;
}
