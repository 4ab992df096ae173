#pragma once
// The lowest layer of the station link: one serial port, opened exclusively,
// 8N1 at the caller's rate, with the station's fixed read timing. It moves
// bytes and never throws; failures are results. A port that fails under it
// (the adapter pulled, the driver reporting an error) is "lost": it stays
// lost until it is closed, and every read and write on it ends at once.

#include <cstdint>
#include <functional>
#include <string>

#include "LineFacts.h"

enum class WireDirection { Sent, Received, Timeout };

// Optional observer of every byte that crosses the line (the CLI's wire
// trace). Called on the thread that does the I/O.
using WireObserver = std::function<void(WireDirection, const std::uint8_t* bytes, int count)>;

class SerialPort {
public:
    // The constant part of the read time-out of a port just opened (ms).
    static constexpr std::uint32_t kDefaultReadTimeoutMs = line::kReadTimeoutMs;

    SerialPort();
    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Opens `devicePath` for exclusive use at `rate` baud, 8N1, no flow
    // control, DTR off, RTS on; discards both queues. On any failure the port
    // is left closed. An open port is closed first.
    bool open(const std::wstring& devicePath, std::uint16_t rate);

    // Replaces the constant part of the total read time-out (ms).
    bool setReadTimeout(std::uint32_t constantMs);
    std::uint32_t readTimeout() const { return readTimeoutConstantMs_; }

    // Returns when `count` bytes have arrived; or, once one byte has arrived,
    // when no further byte follows within 2 ms; or after
    // constant + 100 * count ms; or at once when the port is lost. Returns
    // the bytes stored, -1 when closed.
    int read(std::uint8_t* dest, int count);

    // Discards queued input and output when any byte is waiting, then writes
    // all `count` bytes within 2 s plus 20 ms a byte. False on a closed or
    // lost port or a failed, short or timed-out write.
    bool write(const std::uint8_t* src, int count);

    // The port failed under us since it was opened (not a silent line: the
    // device or its driver is gone or broken). Cleared by open and close.
    bool lost() const { return lost_; }

    // True when a handle was closed.
    bool close();

    bool isOpen() const;

    void setWireObserver(WireObserver observer) { observer_ = std::move(observer); }
    const WireObserver& wireObserver() const { return observer_; }

private:
    // The state, the argument checks and the wire observer are shared
    // (SerialPort.cpp); each platform's source defines the handle and these
    // system calls on it.
    struct Handle;
    // Null when the port cannot be had or configured; nothing is left open.
    static Handle* openHandle(const std::wstring& devicePath, std::uint16_t rate);
    static bool applyReadTimeout(Handle& handle, std::uint32_t constantMs);
    // 1 <= count; returns the bytes stored, with read()'s timing. Sets
    // `failed` when the port itself failed (not for a time-out).
    static int readBytes(Handle& handle, std::uint8_t* dest, int count, std::uint32_t constantMs, bool& failed);
    // Sets `written` to the bytes that went out; false on a failed or timed-out
    // write, with `failed` set when the port itself failed.
    static bool writeBytes(Handle& handle, const std::uint8_t* src, int count, int& written, bool& failed);
    // Closes what openHandle opened and frees the handle.
    static void releaseHandle(Handle* handle);

    Handle* handle_ = nullptr;
    bool lost_ = false;
    std::uint32_t readTimeoutConstantMs_ = kDefaultReadTimeoutMs;
    WireObserver observer_;
};
