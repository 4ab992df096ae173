// A full route-table sweep (64 calls of readRouteTable, 2048 reads of 64
// bytes) against the simulated station pacing its line at 57600 baud, beside
// the wire floor: every byte the station saw and sent, at 10 bits a byte.
//
//   bench_diag [sweeps]      (default 1)

#include <QDir>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "AppContext.h"
#include "PtyStationHost.h"
#include "StationRecord.h"
#include "WorkThread.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kBaud = 57600;

}  // namespace

int main(int argc, char** argv) {
    const int sweeps = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1;

    // debug.log goes to the working directory: keep it out of the caller's.
    QTemporaryDir work;
    if (!work.isValid() || !QDir::setCurrent(work.path())) {
        std::fprintf(stderr, "cannot make a working directory\n");
        return 1;
    }
    StationRecord::create();
    AppContext::create();

    sim::PtyStationHost host;
    if (!host.start()) {
        std::fprintf(stderr, "cannot start the simulated station\n");
        return 1;
    }
    host.setPacing(kBaud);
    WorkThread thread;
    if (!thread.connection().open(host.slavePathW())) {
        std::fprintf(stderr, "cannot open %s\n", host.slavePath().c_str());
        return 1;
    }

    int failures = 0;
    for (int sweep = 0; sweep < sweeps; ++sweep) {
        host.clearFrames();
        thread.setRouteCursor(0);
        const auto start = Clock::now();
        for (int call = 0; call < 64; ++call) {
            thread.readRouteTable();
            if (thread.getRouteCursor() != (call + 1) * 32 % 2048) ++failures;
        }
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();

        long long toStation = 0, fromStation = 0, requests = 0;
        for (const sim::WireFrame& f : host.frames()) {
            if (f.direction == sim::WireFrame::Direction::ToStation) {
                toStation += static_cast<long long>(f.bytes.size());
                ++requests;
            } else {
                fromStation += static_cast<long long>(f.bytes.size());
            }
        }
        const double floorMs = static_cast<double>(toStation + fromStation) * 10.0 * 1000.0 / kBaud;
        std::printf("route-table sweep %d: %lld requests, %lld + %lld bytes on the wire\n", sweep + 1, requests,
                    toStation, fromStation);
        std::printf("  time %.1f ms   wire floor %.1f ms   ratio %.4f (%.2f %% over)   %.3f ms per exchange over the floor\n",
                    ms, floorMs, ms / floorMs, (ms / floorMs - 1.0) * 100.0, (ms - floorMs) / static_cast<double>(requests));
        std::printf("=\troute-table sweep %d (2048 reads)\t%.3f\t%.3f\t1.05\n", sweep + 1, ms, floorMs);
    }
    thread.connection().close();
    host.stop();
    StationRecord::destroy();
    if (failures) {
        std::fprintf(stderr, "%d calls did not advance the cursor by 32 blocks\n", failures);
        return 1;
    }
    return 0;
}
