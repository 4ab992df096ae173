// `program` records where the station stood in the mesh: the status read's
// five RAM reads, after identification and before the first write, and the
// ledger line's attached, parent, link and signal. A status read that fails
// costs the run nothing, and leaves nothing on the line for the writes.
#include <functional>
#include <optional>

#include "CliFixture.h"
#include "Ledger.h"
#include "StationFrames.h"

namespace {

// Exchanges of a run: 0 head, 1..8 dump, 9..16 identification, then the
// status read's five reads (17 to 21 when each is answered at once).
constexpr int kStatusRead = 17;
constexpr int kLevelRead = kStatusRead + 4;

class CliPlaceTest : public CliFixture {};

sim::DefaultStationOptions placed(std::uint16_t parent, int link, int signal, bool attached = true) {
    sim::DefaultStationOptions options;
    options.parent = parent;
    options.link = link;
    options.signal = signal;
    options.attached = attached;
    return options;
}

void onBothAttempts(sim::FaultScript& script, int exchange, const sim::Fault& fault) {
    script.at(exchange, fault);
    script.at(exchange + 1, fault);
}

TEST_F(CliPlaceTest, TheLedgerLineCarriesThePlaceTheStationReports) {
    sim::DefaultStationOptions alreadyMoved = placed(412, 1, -111);
    alreadyMoved.system = 0x3A;
    alreadyMoved.channel0 = 1902;
    sim::DefaultStationOptions unsupported = placed(413, 0, -3);
    unsupported.rangeCode = 5;
    sim::DefaultStationOptions foreign = placed(414, 2, -50);
    foreign.system = 0x20;
    const struct {
        const char* what;
        sim::DefaultStationOptions station;
        int exitCode;
        const char* outcome;
        StationPlace place;
    } cases[] = {
        {"a station moved", placed(300, 2, -97), 0, "moved", {0, true, 300, 2, -97}},
        {"a station not attached", placed(0x45, 3, -130, false), 0, "moved", {0, false, 0x45, 3, -130}},
        {"already moved: its place in the new network", alreadyMoved, 1, "already-moved", {0, true, 412, 1, -111}},
        {"out of the frequency plan", unsupported, 3, "unsupported", {0, true, 413, 0, -3}},
        {"of another system", foreign, 3, "other-system", {0, true, 414, 2, -50}},
    };
    for (const auto& c : cases) {
        sim::PtyStationHost station(sim::makeDefaultStation(c.station));
        ASSERT_TRUE(station.start()) << c.what;
        const CliResult result = program(station);
        EXPECT_EQ(result.exitCode, c.exitCode) << c.what << "\n" << result.err();
        const LedgerEntry line = lastLedgerLine();
        EXPECT_EQ(line.outcome, QLatin1String(c.outcome)) << c.what;
        ASSERT_TRUE(line.place) << c.what;
        EXPECT_EQ(line.place->attached, c.place.attached) << c.what;
        EXPECT_EQ(line.place->parent, c.place.parent) << c.what;
        EXPECT_EQ(line.place->link, c.place.link) << c.what;
        EXPECT_EQ(line.place->signal, c.place.signal) << c.what;
    }
}

// The five reads of the status, in their order, after identification and
// before the first write.
TEST_F(CliPlaceTest, ThePlaceIsReadBeforeTheFirstWrite) {
    sim::PtyStationHost station(sim::makeDefaultStation(placed(300, 2, -97)));
    ASSERT_TRUE(station.start());
    ASSERT_EQ(program(station).exitCode, 0);
    const std::vector<Bytes> requests = framesTo(station, sim::WireFrame::Direction::ToStation);
    ASSERT_GT(requests.size(), size_t(kLevelRead + 1));
    const Bytes expected[] = {
        {0x05, 0x08, 0x62, 0x82},         // status byte
        {0x05, 0x00, 0xB7, 0x82},         // attach flags
        {0x05, 0x02, 0x74, 0x82},         // parent address
        {0x08, 0xC0, 0x22, 0x00, 0x90},   // the parent's route row: (300 + 256) * 16, low byte first
        {0x05, 0x0B, 0x02, 0x84},         // level block
    };
    for (int i = 0; i < 5; ++i) {
        const Bytes& frame = requests[size_t(kStatusRead + i)];
        EXPECT_EQ(Bytes(frame.begin() + 2, frame.end() - 2), expected[i]) << "read " << i;
    }
    const Bytes& firstWrite = requests[size_t(kLevelRead + 1)];
    EXPECT_EQ(firstWrite[2], 0x06);
    EXPECT_EQ(firstWrite[3] << 8 | firstWrite[4], 0xC00C) << "the channel table comes right after";
}

// Whatever the status read meets, the station is moved as without it: the
// same block in the end, one restart, and the place left empty.
TEST_F(CliPlaceTest, AStatusReadThatFailsCostsTheMoveNothing) {
    Bytes movedBlock;
    {
        sim::PtyStationHost reference;
        ASSERT_TRUE(reference.start());
        ASSERT_EQ(program(reference).exitCode, 0);
        ASSERT_TRUE(reference.waitForRestarts(1, std::chrono::seconds(10)));
        movedBlock = paramBlock(reference.snapshot());
    }
    const struct {
        const char* what;
        std::function<void(sim::FaultScript&)> faults;
    } cases[] = {
        {"refused", [](sim::FaultScript& s) { onBothAttempts(s, kStatusRead, sim::Fault::withStatus(1)); }},
        {"answered with the wrong length", [](sim::FaultScript& s) { onBothAttempts(s, kStatusRead, sim::Fault::wrongDataLength(16)); }},
        // Each reply starts after the header's time-out: taken for no answer,
        // and it must be drained before the channel table is written.
        {"answered too late", [](sim::FaultScript& s) { onBothAttempts(s, kLevelRead, sim::Fault::delay(1400)); }},
        {"not answered", [](sim::FaultScript& s) { onBothAttempts(s, kLevelRead, sim::Fault::noReply()); }},
    };
    for (const auto& c : cases) {
        sim::PtyStationHost station;
        sim::FaultScript script;
        c.faults(script);
        station.setFaults(script);
        ASSERT_TRUE(station.start()) << c.what;
        const CliResult result = program(station);
        EXPECT_EQ(result.exitCode, 0) << c.what << "\n" << result.err();
        EXPECT_EQ(lastLedgerLine().outcome, QLatin1String("moved")) << c.what;
        EXPECT_FALSE(lastLedgerLine().place) << c.what;
        EXPECT_EQ(lastLedgerLine().verified, QLatin1String("yes")) << c.what;
        EXPECT_TRUE(station.waitForRestarts(1, std::chrono::seconds(10))) << c.what;
        EXPECT_EQ(paramBlock(station.snapshot()), movedBlock) << c.what;
        EXPECT_TRUE(result.out.contains(QStringLiteral("Status read failed"))) << c.what;
    }
}

}  // namespace
