#include <gtest/gtest.h>

#include "FrameAssembler.h"
#include "Responder.h"

using namespace sim;
using Bytes = std::vector<std::uint8_t>;

namespace {

std::vector<FrameAssembler::Frame> feed(FrameAssembler& a, const Bytes& bytes) {
    return a.feed(bytes.data(), bytes.size(), FrameAssembler::Clock::now());
}

}  // namespace

TEST(FrameAssembler, CutsFramesByTheirLengthByte) {
    FrameAssembler a;
    const Bytes read = makeRequest(0x05, {0xC0, 0x00, 0x10});
    const Bytes restart = makeRequest(0xDD, {});
    // Two frames in one burst, then one in single bytes.
    Bytes both = read;
    both.insert(both.end(), restart.begin(), restart.end());
    auto frames = feed(a, both);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].bytes, read);
    EXPECT_TRUE(frames[0].intact);
    EXPECT_EQ(frames[1].bytes, restart);
    for (std::size_t i = 0; i + 1 < read.size(); ++i) EXPECT_TRUE(feed(a, {read[i]}).empty());
    frames = feed(a, {read.back()});
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].bytes, read);
    EXPECT_FALSE(a.hasPartial());
    // Start bytes inside arguments and CRC are no frame boundaries.
    const Bytes tricky = makeRequest(0x06, {0xDA, 0xDA, 0x00, 0xDA, 0xAD});
    frames = feed(a, tricky);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].bytes, tricky);
}

TEST(FrameAssembler, DropsNoiseAndResynchronises) {
    FrameAssembler a;
    const Bytes read = makeRequest(0x05, {0x0B, 0x00, 0x82});
    Bytes noisy{0x00, 0xFF, 0xAD, 0x13};
    noisy.insert(noisy.end(), read.begin(), read.end());
    auto frames = feed(a, noisy);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].bytes, read);
    EXPECT_EQ(a.droppedBytes(), 4u);
    EXPECT_EQ(a.takeStrayBytes(), (Bytes{0x00, 0xFF, 0xAD, 0x13}));
    EXPECT_TRUE(a.takeStrayBytes().empty());

    // A damaged frame is reported, and a frame hidden inside it is still found.
    Bytes damaged = makeRequest(0x20, {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A});
    const Bytes inner = makeRequest(0xDD, {});
    std::copy(inner.begin(), inner.end(), damaged.begin() + 4);
    frames = feed(a, damaged);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_FALSE(frames[0].intact);
    EXPECT_TRUE(frames[1].intact);
    EXPECT_EQ(frames[1].bytes, inner);
    a.dropPartial();

    // A stray start byte with a large length waits; when the line goes quiet
    // the request behind it comes out.
    Bytes stray{0xDA, 0xF0};
    stray.insert(stray.end(), read.begin(), read.end());
    EXPECT_TRUE(feed(a, stray).empty());
    EXPECT_TRUE(a.hasPartial());
    frames = a.dropPartial();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].bytes, read);
    EXPECT_FALSE(a.hasPartial());
}

TEST(FrameAssembler, StaysBoundedWhateverArrives) {
    FrameAssembler a;
    Bytes flood(100000);
    for (std::size_t i = 0; i < flood.size(); ++i) flood[i] = static_cast<std::uint8_t>(i * 37 + (i >> 7));
    for (std::size_t i = 0; i < flood.size(); i += 997) {
        const std::size_t n = std::min<std::size_t>(997, flood.size() - i);
        a.feed(flood.data() + i, n, FrameAssembler::Clock::now());
        ASSERT_LE(a.pending(), FrameAssembler::kMaxFrame);
    }
    a.dropPartial();
    EXPECT_EQ(a.pending(), 0u);
    const Bytes read = makeRequest(0x05, {0xC0, 0x00, 0x10});
    auto frames = feed(a, read);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].bytes, read);
}
