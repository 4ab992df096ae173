#pragma once
// The station's request/reply protocol as an abstract interface. Every
// operation but sendRestart waits for the reply; failures are thrown as bare
// int codes (LinkCodes.h): no valid reply, the station refused, the port
// itself failed.

#include <cstdint>

#include "LinkCodes.h"
#include "MemoryKind.h"

class IRLSerial {
public:
    virtual bool readMemory(std::uint32_t address, MemoryKind kind, int count, std::uint8_t* dest) = 0;
    virtual bool writeMemory(std::uint32_t address, MemoryKind kind, int count, const std::uint8_t* src) = 0;
    virtual bool sendRestart() = 0;
    virtual bool setClock() = 0;
    virtual int readRecord20(std::uint16_t& cursor, std::uint8_t* dest20) = 0;
    virtual bool sendData(const std::uint8_t* src, int count) = 0;
    virtual int readRecord32(std::uint16_t& cursor, std::uint8_t* dest32) = 0;
    virtual bool command30() = 0;

protected:
    ~IRLSerial() = default;   // never destroyed through the interface
};
