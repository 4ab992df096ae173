// SerialPort over the Win32 communications API. The driver's own time-outs
// give the station's read timing (a 2 ms interval between bytes and a total
// of constant + 100 ms per byte) and bound every write (SerialLineSettings.h).
// A read or write whose call fails (ERROR_BAD_COMMAND, ERROR_ACCESS_DENIED,
// ERROR_DEVICE_REMOVED, ERROR_OPERATION_ABORTED after the adapter was pulled
// or the driver gave up) marks the port lost; a time-out is no failure: the
// call succeeds with fewer bytes.

#include "LineFacts.h"
#include "SerialPort.h"
#include "SerialLineSettings.h"

#include <windows.h>

#include <cwctype>

struct SerialPort::Handle {
    HANDLE h = INVALID_HANDLE_VALUE;
    HANDLE claim = nullptr;   // the port's named mutex, held while open
};

namespace {

bool applyLineSettings(HANDLE h, std::uint16_t rate) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(h, &dcb)) return false;
    // Only these fields change; the rest keep what the driver reported.
    const serial_line::LineControlValues v = serial_line::lineControl(rate);
    dcb.BaudRate = v.baudRate;
    dcb.ByteSize = v.byteSize;
    dcb.Parity = v.parity;
    dcb.StopBits = v.stopBits;
    dcb.fBinary = 1;
    dcb.fParity = 0;
    dcb.fOutxCtsFlow = v.outxCtsFlow;
    dcb.fOutxDsrFlow = v.outxDsrFlow;
    dcb.fDtrControl = v.dtrOn ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
    dcb.fDsrSensitivity = v.dsrSensitivity;
    dcb.fTXContinueOnXoff = v.txContinueOnXoff;
    dcb.fOutX = v.outX;
    dcb.fInX = v.inX;
    dcb.XonChar = v.xonChar;
    dcb.XoffChar = v.xoffChar;
    dcb.fErrorChar = 0;
    dcb.fNull = 0;
    dcb.fRtsControl = v.rtsOn ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
    dcb.fAbortOnError = 0;
    return SetCommState(h, &dcb) != 0;
}

bool applyTimeouts(HANDLE h, std::uint32_t readConstantMs) {
    const serial_line::CommTimeoutValues v = serial_line::commTimeouts(readConstantMs);
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = v.readInterval;
    t.ReadTotalTimeoutMultiplier = v.readTotalMultiplier;
    t.ReadTotalTimeoutConstant = v.readTotalConstant;
    t.WriteTotalTimeoutMultiplier = v.writeTotalMultiplier;
    t.WriteTotalTimeoutConstant = v.writeTotalConstant;
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

    const bool ok = applyLineSettings(h, rate) && applyTimeouts(h, SerialPort::kDefaultReadTimeoutMs) &&
                    PurgeComm(h, PURGE_TXCLEAR | PURGE_RXCLEAR) && SetCommMask(h, EV_RXCHAR);
    if (!ok) {
        CloseHandle(h);   // never left half-configured
        CloseHandle(claim);
        return nullptr;
    }
    return new Handle{h, claim};
}

bool SerialPort::applyReadTimeout(Handle& handle, std::uint32_t constantMs) {
    return applyTimeouts(handle.h, constantMs);
}

// The driver times the read with the time-outs set on the handle.
int SerialPort::readBytes(Handle& handle, std::uint8_t* dest, int count, std::uint32_t, bool& failed) {
    DWORD got = 0;
    // A timed-out read succeeds with what it delivered; a failed one may
    // still have delivered some.
    failed = !ReadFile(handle.h, dest, static_cast<DWORD>(count), &got, nullptr);
    if (got > static_cast<DWORD>(count)) got = 0;
    return static_cast<int>(got);
}

bool SerialPort::writeBytes(Handle& handle, const std::uint8_t* src, int count, int& written, bool& failed) {
    written = 0;
    // Also clears any pending line error (framing, parity, overrun); its
    // failure is the driver's: the device is gone.
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(handle.h, &errors, &status)) {
        failed = true;
        return false;
    }
    if (status.cbInQue > 0 || status.cbOutQue > 0) {
        // Stale bytes from an earlier exchange must never reach the next reply.
        PurgeComm(handle.h, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
    }
    DWORD done = 0;
    // A timed-out write succeeds with fewer bytes: the caller sees it short.
    const BOOL ok = WriteFile(handle.h, src, static_cast<DWORD>(count), &done, nullptr);
    written = static_cast<int>(done > static_cast<DWORD>(count) ? 0 : done);
    failed = !ok;
    return ok != 0;
}

void SerialPort::releaseHandle(Handle* handle) {
    CloseHandle(handle->h);
    CloseHandle(handle->claim);
    delete handle;
}
