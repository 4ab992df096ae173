#pragma once
#include "RLComBase.h"

// Adds the record readers and the raw data command.
class RLComPort : public RLComBase {
public:
    RLComPort() = default;
    int readRecord20(std::uint16_t& cursor, std::uint8_t* dest20) override;
    bool sendData(const std::uint8_t* src, int count) override;
    int readRecord32(std::uint16_t& cursor, std::uint8_t* dest32) override;
};
