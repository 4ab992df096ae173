#include "StationRecord.h"

#include <cstring>

StationRecord* StationRecord::instance_ = nullptr;

std::uint16_t paramWord(const ParamHead& head, int offset) { return paramWordAt(head.data(), offset); }

void setParamWord(ParamHead& head, int offset, std::uint16_t value) {
    head[offset] = static_cast<std::uint8_t>(value & 0xFF);
    head[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

void StationRecord::create() {
    if (!instance_) instance_ = new StationRecord();
}

StationRecord* StationRecord::instance() { return instance_; }

void StationRecord::destroy() {
    delete instance_;
    instance_ = nullptr;
}

void StationRecord::setParams(const std::uint8_t* head16) { std::memcpy(params_.data(), head16, params_.size()); }

void StationRecord::applyLoadedParams(const std::uint8_t* head16) {
    // version, system and timeouts stay as the station last reported them.
    static constexpr int kTaken[] = {2, 3, 5, 6, 7, 8, 10, 11, 12, 13, 14, 15};
    for (int offset : kTaken) params_[offset] = head16[offset];
}
