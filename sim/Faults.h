#pragma once
// Scriptable misbehaviour of the simulated station, per exchange.

#include <cstdint>
#include <map>
#include <optional>

namespace sim {

struct Fault {
    enum class Kind {
        None,
        NoReply,          // swallow the request
        Delay,            // answer after delayMs
        Pieces,           // send the reply in pieces of pieceBytes, gapMs apart
        BadCrc,           // flip a bit of the CRC
        Status,           // non-zero status byte (status)
        Echo,             // echo the request before the reply
        GarbageBefore,    // garbageBytes bytes that are not 0xAD or 0xDA first
        OversizedLength,  // a length byte larger than the frame that follows
        WrongDataLength,  // a read reply with dataLength bytes instead of the count asked
        IgnoreWrite,      // acknowledge a write without storing it
    };
    Kind kind = Kind::None;
    int delayMs = 0;
    int pieceBytes = 2;
    int gapMs = 20;
    std::uint8_t status = 1;
    int garbageBytes = 3;
    int dataLength = 0;
};

// Exchanges are numbered from 0 in the order requests arrive (restart included).
class FaultScript {
public:
    void at(int exchange, Fault fault) { single_[exchange] = fault; }
    // Power lost: no reply from exchange `first` on.
    void powerLostFrom(int first) { powerLostFrom_ = first; }
    // Applies `fault` to every exchange that has no fault of its own.
    void always(Fault fault) { always_ = fault; }
    void clear() { single_.clear(); powerLostFrom_.reset(); always_.reset(); }

    Fault faultFor(int exchange) const;

private:
    std::map<int, Fault> single_;
    std::optional<int> powerLostFrom_;
    std::optional<Fault> always_;
};

}  // namespace sim
