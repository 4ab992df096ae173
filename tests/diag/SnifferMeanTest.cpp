// The sender's running mean: the new total is truncated toward zero before
// it is divided, never rounded and never floored.
#include "DiagFixture.h"

namespace {

constexpr std::uint8_t kOwn = 0x9E;
constexpr std::uint16_t kSelf = 291;
constexpr std::uint16_t kSender = 0x0777;

}  // namespace

class SnifferMean : public DiagTest {
protected:
    void SetUp() override {
        DiagTest::SetUp();
        useStation(kSelf, kOwn);
        // Four old packets of another network fill the ring around the new one.
        host.withModel([](sim::StationModel& m) {
            for (int seq : {252, 253, 254, 255}) m.pushSnifferPacket({static_cast<std::uint8_t>(seq), 0x3A, 0x45, kSelf, 30, 5, 5});
        });
    }
};

TEST_F(SnifferMean, TheNewTotalIsTruncatedTowardZero) {
    const struct {
        int count;
        double mean;
        std::uint8_t signal;
        double expected;
    } cases[] = {
        // 6 x 20.2 - 20.2 + 20 comes out just below 121: truncated 120, mean 20 (rounding gives 20.1666...).
        {5, 20.2, 20, 20.0},
        // A negative mean from a station file: -0.75 truncates to 0, where flooring gives -1.
        {1, -0.75, 0, 0.0},
        // An exact total stays as it is.
        {2, 22.5, 30, 25.0},
    };
    std::uint8_t seq = 0;
    thread.setSnifferPtr(0);
    for (const auto& c : cases) {
        record().routeTable[kSender] = RouteEntry{2, 20, c.count, -70, c.mean, QString()};
        host.withModel([&](sim::StationModel& m) { m.pushSnifferPacket({seq, kOwn, kSender, kSelf, c.signal, 5, 5}); });
        ++seq;
        thread.readSnifferBuffer();
        EXPECT_EQ(record().routeTable[kSender].average_snr, c.expected) << c.count << " x " << c.mean;
        EXPECT_EQ(record().routeTable[kSender].count, c.count + 1);
    }
}
