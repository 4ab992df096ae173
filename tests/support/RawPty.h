#pragma once
// A bare pseudo-terminal pair that a test drives itself: the code under test
// opens the slave path, the test plays the far end on the master side.

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

class RawPty {
public:
    RawPty();
    ~RawPty();
    RawPty(const RawPty&) = delete;
    RawPty& operator=(const RawPty&) = delete;

    bool ok() const { return master_ >= 0 && slave_ >= 0; }
    std::wstring slavePathW() const;
    const std::string& slavePath() const { return path_; }
    int slaveFd() const { return slave_; }

    // Sends bytes to whoever has the slave side open.
    void send(const std::vector<std::uint8_t>& bytes);
    // Collects exactly `count` bytes written on the slave side, waiting at
    // most `limit`; returns what arrived.
    std::vector<std::uint8_t> receive(std::size_t count,
                                      std::chrono::milliseconds limit = std::chrono::milliseconds(5000));
    // Waits until the slave's input queue holds at least `count` bytes.
    bool waitQueuedForSlave(int count, std::chrono::milliseconds limit = std::chrono::milliseconds(5000));
    int queuedForSlave() const;
    // Hangs up the far end: the slave side sees the line gone.
    void closeMaster();

    // Plays the far end from a thread of its own, so that the code under
    // test is already reading (or writing) when the bytes come: first
    // collects `awaitRequest` bytes written on the slave side, then pauses
    // for `pause`, then sends `bytes`. Only one at a time; finishSending()
    // waits for it and hands back the request bytes it collected.
    void sendLater(std::vector<std::uint8_t> bytes, std::chrono::milliseconds pause,
                   std::size_t awaitRequest = 0);
    // The same with several pieces, each sent after its own pause; a piece
    // may first collect more request bytes (a retry) of its own.
    struct Piece {
        std::chrono::milliseconds pause;
        std::vector<std::uint8_t> bytes;
        std::size_t awaitRequest = 0;
    };
    void sendLater(std::vector<Piece> pieces, std::size_t awaitRequest);
    std::vector<std::uint8_t> finishSending();

private:
    int master_ = -1;
    int slave_ = -1;   // kept open so the tty outlives the code under test
    std::string path_;
    std::thread farEnd_;
    std::vector<std::uint8_t> collected_;
};

// A frame as the station would send it: AD LEN status data CRC.
std::vector<std::uint8_t> replyFrame(std::uint8_t status, const std::vector<std::uint8_t>& data);
