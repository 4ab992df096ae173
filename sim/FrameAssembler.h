#pragma once
// Cuts the byte stream arriving at the station into request frames. A frame
// starts with 0xDA and is as long as its length byte says; bytes before a
// start byte are line noise and dropped. The buffer never holds more than
// one frame's worth (260 bytes), whatever the line sends.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

namespace sim {

class FrameAssembler {
public:
    using Clock = std::chrono::steady_clock;

    struct Frame {
        std::vector<std::uint8_t> bytes;
        bool intact = false;          // CRC good
        Clock::time_point firstByte;  // when its start byte arrived
    };

    static constexpr std::size_t kMaxFrame = 3 + 255 + 2;

    // Appends bytes received at `when`; returns the frames they completed.
    std::vector<Frame> feed(const std::uint8_t* data, std::size_t length, Clock::time_point when);
    // The line went quiet in the middle of a frame: that frame will never
    // complete. Drops it and returns any whole frame found behind it (a
    // request that followed a stray start byte).
    std::vector<Frame> dropPartial();

    bool hasPartial() const { return !bytes_.empty(); }
    std::size_t pending() const { return bytes_.size(); }
    std::size_t droppedBytes() const { return dropped_; }
    // The bytes dropped since the last call, in order: noise before a start
    // byte, an extra byte after a request, the bytes of a damaged frame. A
    // correct client sends none. Kept up to kMaxStray bytes.
    std::vector<std::uint8_t> takeStrayBytes();
    static constexpr std::size_t kMaxStray = 4096;

private:
    void cut(std::vector<Frame>& out);
    void dropFront(std::size_t count);

    std::deque<std::uint8_t> bytes_;
    std::deque<Clock::time_point> times_;
    std::size_t dropped_ = 0;
    std::vector<std::uint8_t> stray_;
};

}  // namespace sim
