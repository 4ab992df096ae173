#include "FrameAssembler.h"

#include "Responder.h"
#include "StationProtocol.h"

namespace sim {

namespace {
constexpr std::uint8_t kStart = protocol::kRequestStart;
}

void FrameAssembler::dropFront(std::size_t count) {
    for (std::size_t i = 0; i < count && !bytes_.empty(); ++i) {
        if (stray_.size() < kMaxStray) stray_.push_back(bytes_.front());
        bytes_.pop_front();
        times_.pop_front();
        ++dropped_;
    }
}

std::vector<std::uint8_t> FrameAssembler::takeStrayBytes() {
    std::vector<std::uint8_t> out;
    out.swap(stray_);
    return out;
}

std::vector<FrameAssembler::Frame> FrameAssembler::feed(const std::uint8_t* data, std::size_t length,
                                                       Clock::time_point when) {
    std::vector<Frame> out;
    for (std::size_t i = 0; i < length; ++i) {
        // Appending byte by byte keeps the buffer within one frame: a frame is
        // cut as soon as its last byte is in.
        bytes_.push_back(data[i]);
        times_.push_back(when);
        cut(out);
    }
    return out;
}

std::vector<FrameAssembler::Frame> FrameAssembler::dropPartial() {
    std::vector<Frame> out;
    // Nothing more is coming, so no incomplete frame at the head can ever
    // complete; a request may still sit whole behind a stray start byte.
    while (!bytes_.empty()) {
        dropFront(1);
        cut(out);
    }
    return out;
}

void FrameAssembler::cut(std::vector<Frame>& out) {
    for (;;) {
        std::size_t noise = 0;
        while (noise < bytes_.size() && bytes_[noise] != kStart) ++noise;
        dropFront(noise);
        if (bytes_.size() < 2) return;

        const std::size_t need = static_cast<std::size_t>(bytes_[1]) + 5;
        if (bytes_.size() < need) return;

        Frame f;
        f.bytes.assign(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(need));
        f.firstByte = times_.front();
        f.intact = isValidRequest(f.bytes.data(), f.bytes.size());
        if (f.intact) {
            for (std::size_t i = 0; i < need; ++i) {
                bytes_.pop_front();
                times_.pop_front();
            }
        } else {
            // Not a frame after all: look for a start byte inside it.
            dropFront(1);
        }
        out.push_back(std::move(f));
    }
}

}  // namespace sim
