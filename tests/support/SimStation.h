#pragma once
// A simulated station on a pseudo-terminal for a test. SimStationTest starts
// one per test and checks that no byte went to it outside a request frame;
// SimStation opens a StationConnection to it as well.

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "PtyStationHost.h"
#include "StationConnection.h"
#include "StationFrames.h"

// Sets the station's fault script.
inline void scriptFaults(sim::PtyStationHost& host, const std::function<void(sim::FaultScript&)>& build) {
    sim::FaultScript script;
    build(script);
    host.setFaults(script);
}

// Fails the next `count` exchanges with a refusal from the station.
inline void refuseExchanges(sim::PtyStationHost& host, int count) {
    scriptFaults(host, [&](sim::FaultScript& script) {
        sim::Fault refusal;
        refusal.kind = sim::Fault::Kind::Status;
        for (int i = 0; i < count; ++i) script.at(host.exchangeCount() + i, refusal);
    });
}

// Stops the station; it drops bytes outside a frame without a word, so none
// may have been sent.
inline void stopExpectingNoStrayBytes(sim::PtyStationHost& host) {
    host.stop();
    EXPECT_EQ(host.strayBytes(), Bytes{}) << "bytes sent outside request frames";
}

class SimStationTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(host.start()); }
    void TearDown() override { stopExpectingNoStrayBytes(host); }

    void faults(const std::function<void(sim::FaultScript&)>& build) { scriptFaults(host, build); }
    std::vector<Bytes> requests() const { return framesTo(host, sim::WireFrame::Direction::ToStation); }
    std::vector<Bytes> replies() const { return framesTo(host, sim::WireFrame::Direction::FromStation); }

    sim::PtyStationHost host;
};

class SimStation : public SimStationTest {
protected:
    void SetUp() override {
        SimStationTest::SetUp();
        ASSERT_TRUE(conn.open(host.slavePathW()));
    }
    void TearDown() override {
        conn.close();
        SimStationTest::TearDown();
    }

    static int codeOf(const std::function<void()>& call) {
        try {
            call();
        } catch (int code) {
            return code;
        }
        return 0;
    }

    StationConnection conn;
};
