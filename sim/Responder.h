#pragma once
// The simulated station's firmware: turns one request frame into the bytes
// the station sends back, changing its memory as the request says. Pure: no
// I/O and no clocks, so every answer can be checked byte for byte.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "Faults.h"
#include "StationModel.h"

namespace sim {

// Refusal codes in the status byte of a reply.
enum StationStatus : std::uint8_t {
    kStatusDone = 0x00,
    kStatusUnknownCommand = 0x01,
    kStatusBadArguments = 0x02,
    kStatusOutOfRange = 0x03,
};

// Bytes to send after waiting delayMs (counted from the end of the segment before).
struct ReplySegment {
    int delayMs = 0;
    std::vector<std::uint8_t> bytes;
};

struct Response {
    std::vector<ReplySegment> segments;   // empty: the station stays silent
    bool wroteMemory = false;             // ROM or RAM changed
    bool restarted = false;

    bool silent() const { return segments.empty(); }
    std::vector<std::uint8_t> allBytes() const;
};

// CRC-16/XMODEM of the station's frames (polynomial 0x1021, initial 0).
std::uint16_t frameCrc(const std::uint8_t* bytes, std::size_t length);

// A complete request frame DA LEN cmd args CRC.
std::vector<std::uint8_t> makeRequest(std::uint8_t command, const std::vector<std::uint8_t>& args);
// A complete reply frame AD LEN status data CRC.
std::vector<std::uint8_t> makeReply(std::uint8_t status, const std::vector<std::uint8_t>& data);

// True when `frame` is a whole request with an intact CRC (length = LEN + 5).
bool isValidRequest(const std::uint8_t* frame, std::size_t length);

// Answers one request. A frame that is not a valid request gets no reply and
// changes nothing; `fault` shapes the answer (see Faults.h).
Response respond(const std::uint8_t* frame, std::size_t length, StationModel& model,
                 const Fault& fault = {});
inline Response respond(const std::vector<std::uint8_t>& frame, StationModel& model,
                        const Fault& fault = {}) {
    return respond(frame.data(), frame.size(), model, fault);
}

}  // namespace sim
