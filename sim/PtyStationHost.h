#pragma once
// Runs a simulated station on the master side of a pseudo-terminal, so the
// real SerialPort talks to it through the slave path. One background thread
// answers frames until stop() or destruction.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Faults.h"
#include "StationModel.h"

namespace sim {

// One frame on the line. Requests are timed when their last byte arrived;
// replies (echo, noise and all bytes of one answer together) just before their
// last byte is written, so a client holding a whole reply finds it recorded.
// Damaged requests are recorded too, but get no answer.
struct WireFrame {
    enum class Direction { ToStation, FromStation } direction;
    std::chrono::steady_clock::time_point time;
    std::vector<std::uint8_t> bytes;
};

class PtyStationHost {
public:
    explicit PtyStationHost(StationModel model = makeDefaultStation());
    ~PtyStationHost();
    PtyStationHost(const PtyStationHost&) = delete;
    PtyStationHost& operator=(const PtyStationHost&) = delete;

    bool start();        // creates the pty and the answering thread
    void stop();

    std::string slavePath() const;
    std::wstring slavePathW() const;

    // Pace every byte the station sends at the line's byte time
    // (10 bits at `baud`), starting when the request's last byte would have
    // arrived at that rate, a millisecond's bytes at a time; 0 sends at once.
    void setPacing(int baud);

    // Thread-safe access to the station.
    void withModel(const std::function<void(StationModel&)>& fn);
    StationModel snapshot() const;
    void setFaults(const FaultScript& script);
    std::vector<WireFrame> frames() const;   // both directions, in order
    // Bytes that reached the station outside any request frame (noise, an
    // extra byte after a request, a damaged frame), in order; the station
    // drops them, so only this shows a client that sends them. Bounded.
    std::vector<std::uint8_t> strayBytes() const;
    void clearFrames();   // the stray bytes too
    int exchangeCount() const;   // valid requests so far, restarts included
    // Blocks until at least `count` frames are recorded (true) or `timeout`
    // passes (false).
    bool waitForFrames(std::size_t count, std::chrono::milliseconds timeout) const;
    // Blocks until the station has taken in at least `count` restarts since
    // it was made (true) or `timeout` passes (false). A restart gets no
    // reply, so a client may be done before the station has seen it.
    bool waitForRestarts(int count, std::chrono::milliseconds timeout) const;

    // Called on the station's thread after every write to the station's
    // memory has been answered, with a copy of the memory (the CLI's --state).
    // It may call the host's other methods.
    void setOnWrite(std::function<void(const StationModel&)> callback);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace sim
