#pragma once
// The worker thread's connection to a station: opens the port, retries
// memory operations as each caller asks and identifies the station. Every
// read and write either succeeds or throws a bare int code (LinkCodes.h:
// no reply, refused, the port lost); identification alone throws
// kVersionZero or kBandMismatch.

#include <cstdint>
#include <string>

#include "LineFacts.h"
#include "RLComPort.h"
#include "SerialPort.h"
#include "StationPlace.h"
#include "StationSettings.h"

class StationConnection {
public:
    static constexpr std::uint16_t kBaudRate = line::kBaud;

    StationConnection();
    StationConnection(const StationConnection&) = delete;
    StationConnection& operator=(const StationConnection&) = delete;

    bool open(const std::wstring& portPath);
    bool open();
    void close();
    bool isOpen() const { return isOpen_; }
    // The port failed under the run (see SerialPort::lost).
    bool portLost() const { return port_.lost(); }

    int readRam16(std::uint32_t address, int count, std::uint8_t* dest, int attempts);
    int readRam24(std::uint32_t address, int count, std::uint8_t* dest, int attempts);
    int readRom16(std::uint32_t address, int count, std::uint8_t* dest, int attempts);
    int readRom24(std::uint32_t address, int count, std::uint8_t* dest, int attempts);
    bool writeRam16(std::uint32_t address, int count, const std::uint8_t* src, int attempts);
    bool writeRom16(std::uint32_t address, int count, const std::uint8_t* src, int attempts);
    bool writeRom24(std::uint32_t address, int count, const std::uint8_t* src, int attempts);

    int readParamBlock(int offset, int count, std::uint8_t* dest);

    // The station's place in the mesh: five RAM reads (status byte, attach
    // flags, parent address, the parent's route-table row, the level block),
    // each with `attempts`. Throws the code of the first read that fails.
    StationPlace readPlace(int attempts);

    // Reads the settings and the version byte; throws kVersionZero for
    // version 0 and kBandMismatch for a band type that does not fit the
    // frequency range. Returns the version byte.
    int identifyStation();

    // False when the command could not be put on the line.
    bool sendRestart();
    // Drains the line until it is quiet (see RLComBase::settleLine).
    bool settleLine();
    // See RLComBase::setShortReplyWindow.
    void setShortReplyWindow(bool shortWindow) { link_.setShortReplyWindow(shortWindow); }
    bool setClock();
    bool command30();
    int commandF1(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d);
    int commandF2();

    StationSettings& settings() { return settings_; }
    const StationSettings& settings() const { return settings_; }
    SerialPort& serialPort() { return port_; }
    const std::wstring& portPath() const { return portPath_; }

private:
    int readWithRetry(std::uint32_t address, MemoryKind kind, int count, std::uint8_t* dest, int attempts);
    bool writeWithRetry(std::uint32_t address, MemoryKind kind, int count, const std::uint8_t* src, int attempts);

    bool isOpen_ = false;
    StationSettings settings_;
    SerialPort port_;
    RLComPort link_;
    std::wstring portPath_;
};
