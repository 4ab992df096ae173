// How `program` ends when the acknowledgement of the system code is lost,
// and when the frequency plan does not cover the station: exit status, the
// line before the outcome line, the outcome line, the ledger line and what
// the station holds.
#include "CliFixture.h"
#include "Ledger.h"

namespace {

class CliOutcomeTest : public CliFixture {};

// Exchanges of an undisturbed run: 0 head, 1..8 dump, 9..16 identification,
// 17..21 the status read, 22 table, 23 block 0, 24 and 25 their read-back,
// 26 the system code.
constexpr int kSystemCodeWrite = 26;

TEST_F(CliOutcomeTest, ALostSystemCodeAcknowledgementIsSettledByReadingItBack) {
    const struct {
        const char* what;
        sim::Fault fault;   // on both attempts of the system-code write
        int exitCode;
        const char* outcome;
        std::uint8_t systemAfter;
        int restarts;
    } cases[] = {
        {"kept, replies damaged", sim::Fault::badCrc(), 0, "moved", 0x3A, 1},
        {"not kept, no replies", sim::Fault::noReply(), 5, "partly-written", 0x9E, 0},
    };
    for (const auto& c : cases) {
        sim::PtyStationHost station;
        sim::FaultScript script;
        script.at(kSystemCodeWrite, c.fault);
        script.at(kSystemCodeWrite + 1, c.fault);
        station.setFaults(script);
        ASSERT_TRUE(station.start()) << c.what;

        const CliResult result = program(station);
        EXPECT_EQ(result.exitCode, c.exitCode) << c.what << "\n" << result.err();
        if (c.restarts > 0) {
            ASSERT_TRUE(station.waitForRestarts(c.restarts, std::chrono::seconds(10))) << c.what;
            ASSERT_GE(result.errLines.size(), 2) << c.what;
            EXPECT_TRUE(result.errLines[result.errLines.size() - 2].contains(QStringLiteral("acknowledgement")))
                << c.what << "\n" << result.err();
            EXPECT_EQ(lastLedgerLine().verified, QStringLiteral("yes")) << c.what;
        } else {
            EXPECT_TRUE(result.lastErrLine().contains(QStringLiteral("partly written"))) << c.what;
        }
        EXPECT_EQ(station.snapshot().rom[0xC004], c.systemAfter) << c.what;
        EXPECT_EQ(station.snapshot().restarts, c.restarts) << c.what;
        EXPECT_EQ(lastLedgerLine().outcome, QLatin1String(c.outcome)) << c.what;
    }
}

TEST_F(CliOutcomeTest, AStationThePlanDoesNotCoverIsUnsupported) {
    const struct {
        const char* what;
        std::uint8_t rangeCode;
        std::uint8_t bandType;
        const char* named;   // in the line before the outcome line
    } cases[] = {
        {"range code 5", 5, 4, "range code 5"},
        {"band 2 in range 1", 1, 2, "band type 2"},
        {"band 1 in range 2", 2, 1, "band type 1"},
    };
    for (const auto& c : cases) {
        sim::DefaultStationOptions options;
        options.rangeCode = c.rangeCode;
        options.bandType = c.bandType;
        sim::PtyStationHost station(sim::makeDefaultStation(options));
        ASSERT_TRUE(station.start()) << c.what;

        const CliResult result = program(station);
        EXPECT_EQ(result.exitCode, 3) << c.what << "\n" << result.err();
        EXPECT_EQ(result.lastErrLine(), QString::fromUtf8("Нет ответа от Станции. (7)")) << c.what;
        ASSERT_GE(result.errLines.size(), 2) << c.what;
        EXPECT_TRUE(result.errLines[result.errLines.size() - 2].contains(QLatin1String(c.named)))
            << c.what << "\n" << result.err();
        EXPECT_EQ(lastLedgerLine().outcome, QStringLiteral("unsupported")) << c.what;
        EXPECT_EQ(lastLedgerLine().code, 7) << c.what;
        EXPECT_EQ(writesSeen(station), 0) << c.what;
    }
}

}  // namespace
