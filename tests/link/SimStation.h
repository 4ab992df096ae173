#pragma once
// A simulated station on a pty with a StationConnection opened to it, and a
// few helpers to read the wire record.

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "PtyStationHost.h"
#include "StationConnection.h"

using Bytes = std::vector<std::uint8_t>;

class SimStation : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(host.start());
        ASSERT_TRUE(conn.open(host.slavePathW()));
    }
    void TearDown() override {
        conn.close();
        host.stop();
        // The station drops bytes outside a frame without a word; none may be sent.
        EXPECT_EQ(host.strayBytes(), Bytes{}) << "bytes sent outside request frames";
    }

    void faults(const std::function<void(sim::FaultScript&)>& build) {
        sim::FaultScript script;
        build(script);
        host.setFaults(script);
    }

    // The frames one way, in order.
    std::vector<Bytes> requests() const { return framesTo(sim::WireFrame::Direction::ToStation); }
    std::vector<Bytes> replies() const { return framesTo(sim::WireFrame::Direction::FromStation); }

    static int codeOf(const std::function<void()>& call) {
        try {
            call();
        } catch (int code) {
            return code;
        }
        return 0;
    }

    sim::PtyStationHost host;
    StationConnection conn;

private:
    std::vector<Bytes> framesTo(sim::WireFrame::Direction d) const {
        std::vector<Bytes> out;
        for (const sim::WireFrame& f : host.frames())
            if (f.direction == d) out.push_back(f.bytes);
        return out;
    }
};

inline Bytes romBytes(const sim::StationModel& m, std::uint32_t address, std::size_t count) {
    return Bytes(m.rom.begin() + address, m.rom.begin() + address + count);
}
