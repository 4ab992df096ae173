#pragma once
#include <chrono>
#include <cstdint>

#include "Crc16Table.h"
#include "IRLSerial.h"
#include "LinkLimits.h"

class SerialPort;

// Memory access and the control commands on top of a SerialPort.
class RLComBase : public IRLSerial {
public:
    bool readMemory(std::uint32_t address, MemoryKind kind, int count, std::uint8_t* dest) override;
    bool writeMemory(std::uint32_t address, MemoryKind kind, int count, const std::uint8_t* src) override;
    bool sendRestart() override;
    bool setClock() override;
    bool command30() override;
    // dest must hold the largest reply, link_limits::kMaxLen (255) bytes.
    virtual bool query07(std::uint8_t* dest);

    bool setPort(SerialPort* port);
    int commandF1(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d);
    int commandF2();

    // Reads one reply frame (skipping one echo of the request), checks it
    // and copies at most `capacity` data bytes to dest. Returns LEN. A header
    // whose length cannot answer the request (more than `capacity`, or,
    // with `exactLen` >= 0, neither 0 nor exactLen) fails at once.
    int receiveReply(std::uint8_t* dest, int capacity, int exactLen = -1);

    // Discards what arrives until the line has been quiet for longer than a
    // whole frame takes and the station's reply window for the last request
    // has passed, so that a late reply (of that request, or of a run that was
    // cut off) is never taken for the next one. Bounded in time; true when
    // the line went quiet (false at once on a lost port). Done before the next request whenever an exchange
    // ended without a usable reply.
    bool settleLine();

    // The wait for a reply's first byte: by default the header read's (the
    // port's constant plus 100 ms for each of its three bytes); short, one
    // byte's (100 ms with no constant), for a probe, which only asks whether
    // a station is there: one that is answers within milliseconds. The rest
    // of the frame is read as always. A reply that starts later is no answer.
    void setShortReplyWindow(bool shortWindow) { shortReplyWindow_ = shortWindow; }

protected:
    RLComBase();
    ~RLComBase() = default;

    // Builds DA LEN cmd args CRC and writes it; false when the port did not
    // take the whole frame.
    bool sendFrame(std::uint8_t command, const std::uint8_t* args, int argCount);
    // sendFrame + receiveReply into scratch space of `most` bytes (-1: the
    // largest reply); returns LEN.
    int exchangeDropping(std::uint8_t command, const std::uint8_t* args, int argCount, int most = -1);

    // Read exactly the 3 header bytes / `count` more bytes, or throw kNoReply.
    void readHeader(std::uint8_t* rx);
    void readRest(std::uint8_t* dest, int count);
    // Throws link_codes::kPortLost once the port has failed under us.
    void throwIfLost() const;

    SerialPort* port = nullptr;
    Crc16Table crc;

private:
    void skipEcho(std::uint8_t* rx);
    int readReplyFrame(std::uint8_t* dest, int capacity, int exactLen);

    // The last request on the line: an echo must be this frame, and its
    // reply window starts when it was sent.
    std::uint8_t lastRequest_[link_limits::kMaxFrame] = {};
    int lastRequestBytes_ = 0;
    std::chrono::steady_clock::time_point lastSend_{};
    // The last exchange ended without a usable reply: its own reply, or the
    // rest of a frame, may still come.
    bool lineSuspect_ = false;
    // The last attempt failed. A reply that then arrives may be the failed
    // attempt's own, late; the retry's reply would follow it, so the line is
    // drained once more after that success.
    bool afterFailure_ = false;
    bool shortReplyWindow_ = false;
};
