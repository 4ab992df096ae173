#pragma once
// Scriptable misbehaviour of the simulated station, per exchange.

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace sim {

struct Fault {
    enum class Kind {
        None,
        NoReply,          // swallow the request
        Delay,            // answer after delayMs
        Pieces,           // send the reply in pieces of pieceBytes, gapMs apart
        BadCrc,           // flip a bit of the CRC
        Status,           // non-zero status byte (status)
        Echo,             // echo the request at once, the reply gapMs later
        GarbageBefore,    // garbageBytes bytes that are not 0xAD or 0xDA first
        OversizedLength,  // a length byte larger than the frame that follows
        WrongDataLength,  // a read reply with dataLength bytes instead of the count asked
        IgnoreWrite,      // acknowledge a write without storing it
        StaleRead,        // a read answered with the bytes addressShift further on: an earlier
                          // request's late reply, as long as this one's
        HangUp,           // the adapter pulled out: the line hangs up instead of answering,
                          // for good (PtyStationHost closes the pty)
    };
    Kind kind = Kind::None;
    int delayMs = 0;
    int pieceBytes = 2;
    int gapMs = 20;
    std::uint8_t status = 1;
    int garbageBytes = 3;
    int dataLength = 0;   // WrongDataLength: data bytes sent; OversizedLength: the length byte (0: 255)
    int addressShift = 0;   // StaleRead

    static Fault none() { return {}; }
    static Fault noReply() { return make(Kind::NoReply); }
    static Fault delay(int ms) { Fault f = make(Kind::Delay); f.delayMs = ms; return f; }
    static Fault pieces(int bytes, int gap) {
        Fault f = make(Kind::Pieces); f.pieceBytes = bytes; f.gapMs = gap; return f;
    }
    static Fault badCrc() { return make(Kind::BadCrc); }
    static Fault withStatus(std::uint8_t s) { Fault f = make(Kind::Status); f.status = s; return f; }
    static Fault echo() { return make(Kind::Echo); }
    static Fault garbage(int bytes) { Fault f = make(Kind::GarbageBefore); f.garbageBytes = bytes; return f; }
    static Fault oversizedLength(int lengthByte = 0) {
        Fault f = make(Kind::OversizedLength); f.dataLength = lengthByte; return f;
    }
    static Fault wrongDataLength(int bytes) {
        Fault f = make(Kind::WrongDataLength); f.dataLength = bytes; return f;
    }
    static Fault ignoreWrite() { return make(Kind::IgnoreWrite); }
    static Fault staleRead(int shift) { Fault f = make(Kind::StaleRead); f.addressShift = shift; return f; }
    static Fault hangUp() { return make(Kind::HangUp); }

private:
    static Fault make(Kind k) { Fault f; f.kind = k; return f; }
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
    bool empty() const { return single_.empty() && !powerLostFrom_ && !always_; }

    // Adds one fault written KIND[=ARGS][@WHEN] (the simulator's --fault):
    //   KIND: noreply | delay=MS | pieces=BYTES,GAPMS (or BYTES/GAPMS) | badcrc |
    //         status=N | echo | garbage=N | oversized[=LEN] | datalen=N (or
    //         wronglength=N) | ignorewrite | hangup | powerlost
    //   WHEN: an exchange number from 0, or * for every exchange (default *);
    //         powerlost needs @N: no reply from exchange N on.
    // False, with the script unchanged, on a malformed text.
    bool add(const std::string& text);

    // Reads a script of comma-separated items "N:fault", "always:fault" and
    // "powerlost:N", a fault as in add(), for test scripts.
    // Example: "0:echo,2:delay=300,3:pieces=2/20,powerlost:9".
    // Returns nothing (and names the bad item in *error) on a malformed text.
    static std::optional<FaultScript> parse(const std::string& text, std::string* error = nullptr);

private:
    // `when`: an exchange number or "*".
    bool place(const std::string& fault, const std::string& when);

    std::map<int, Fault> single_;
    std::optional<int> powerLostFrom_;
    std::optional<Fault> always_;
};

}  // namespace sim
