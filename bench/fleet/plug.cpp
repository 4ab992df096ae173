// How soon a waiting fleet reads a station that has become reachable:
//  - an adapter plugged in with its station: a simulated station published
//    while `program --wait --all` runs (the port appears);
//  - the next station on an adapter that stays attached: a silent station
//    on a port `program --wait --port` probes starts answering.
// Measured from the moment it became reachable to the first request that
// reaches it (on an attached adapter: the first it answers). Each station
// answers at the real line's pace (57600 baud).
//
//   bench_plug CLI [rounds]   (default 10 rounds; CLI is rechannel-cli)

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

#include "PtyStationHost.h"
#include "VirtualPorts.h"

namespace {

using Clock = std::chrono::steady_clock;
using sim::WireFrame;

constexpr int kBaud = 57600;
constexpr double kLimitMs = 300;
constexpr auto kPatience = std::chrono::seconds(20);

sim::StationModel stationAt(int address) {
    sim::DefaultStationOptions options;
    options.address = static_cast<std::uint16_t>(address);
    return sim::makeDefaultStation(options);
}

// Milliseconds from `since` to the first frame of `direction` after it; -1
// when none came in time.
double firstFrameAfter(const sim::PtyStationHost& host, Clock::time_point since, WireFrame::Direction direction) {
    const auto giveUp = Clock::now() + kPatience;
    for (std::size_t seen = 0; Clock::now() < giveUp;) {
        const std::vector<WireFrame> frames = host.frames();
        for (; seen < frames.size(); ++seen)
            if (frames[seen].direction == direction && frames[seen].time >= since)
                return std::chrono::duration<double, std::milli>(frames[seen].time - since).count();
        host.waitForFrames(frames.size() + 1, std::chrono::milliseconds(500));
    }
    return -1;
}

// The station has taken its restart: the run is over and the port free.
bool programmed(const sim::PtyStationHost& host, int restarts) {
    return host.waitForRestarts(restarts, kPatience);
}

std::unique_ptr<QProcess> startCli(const QString& cli, const QStringList& args) {
    auto process = std::make_unique<QProcess>();
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
    process->start(cli, args);
    return process->waitForStarted() ? std::move(process) : nullptr;
}

void end(QProcess& process) {
    process.terminate();
    if (!process.waitForFinished(30000)) process.kill();
}

// A station published on a new port while --wait --all runs.
std::vector<double> pluggedAdapters(const QString& cli, int rounds) {
    std::vector<double> ms;
    auto waiting = startCli(cli, {QStringLiteral("program"), QStringLiteral("--wait"), QStringLiteral("--all"),
                                  QStringLiteral("--match"), QStringLiteral("bench-plug")});
    if (!waiting) return ms;
    // Let it settle into waiting with no port yet.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    for (int r = 0; r < rounds; ++r) {
        sim::PtyStationHost host(stationAt(100 + r));
        host.setPacing(kBaud);
        const std::string name = "bench-plug-" + std::to_string(r);
        if (!host.start()) break;
        const Clock::time_point plugged = Clock::now();
        if (!publishVirtualPort(name, host.slavePath())) break;
        const double latency = firstFrameAfter(host, plugged, WireFrame::Direction::ToStation);
        const bool done = programmed(host, 1);
        unpublishVirtualPort(name, host.slavePath());
        if (latency < 0 || !done) break;
        ms.push_back(latency);
        // The fleet sees the port go before the next one comes.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    end(*waiting);
    return ms;
}

// Station after station on one port: each silent at first, then answering.
std::vector<double> nextStations(const QString& cli, int rounds) {
    std::vector<double> ms;
    sim::PtyStationHost host(stationAt(200));
    host.setPacing(kBaud);
    sim::FaultScript silent;
    silent.always(sim::Fault::noReply());
    host.setFaults(silent);
    if (!host.start()) return ms;
    auto waiting = startCli(cli, {QStringLiteral("program"), QStringLiteral("--wait"), QStringLiteral("--port"),
                                  QString::fromStdString(host.slavePath())});
    if (!waiting) return ms;
    for (int r = 0; r < rounds; ++r) {
        // Waiting on a silent line for a while, at a moment unrelated to its probes.
        if (!host.waitForFrames(host.frames().size() + 2, kPatience)) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(37 * (r % 7)));
        const sim::StationModel next = stationAt(201 + r);
        host.withModel([&next](sim::StationModel& m) { m.rom = next.rom; });
        const Clock::time_point attached = Clock::now();
        host.setFaults(sim::FaultScript{});
        const double latency = firstFrameAfter(host, attached, WireFrame::Direction::FromStation);
        const bool done = programmed(host, r + 1);
        host.setFaults(silent);
        if (latency < 0 || !done) break;
        ms.push_back(latency);
    }
    end(*waiting);
    return ms;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

bool report(const char* what, const std::vector<double>& ms, int rounds) {
    if (static_cast<int>(ms.size()) < rounds) {
        std::printf("%s: round %zu did not read its station\n", what, ms.size() + 1);
        return false;
    }
    const double worst = *std::max_element(ms.begin(), ms.end());
    std::printf("%s: median %.1f ms, worst %.1f ms of %d (limit %.0f ms)\n", what, median(ms), worst, rounds, kLimitMs);
    // The limit is the floor of the row: the ratio must stay below 1.
    std::printf("=\t%s, worst of %d\t%.3f\t%.3f\t1.00\n", what, rounds, worst, kLimitMs);
    return worst <= kLimitMs;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_plug RECHANNEL_CLI [rounds]\n");
        return 2;
    }
    const QString cli = QString::fromLocal8Bit(argv[1]);
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 10;
    // Ports of its own: none of the machine's, none of another run's.
    QTemporaryDir runtime;
    if (!runtime.isValid() || !QFile::setPermissions(runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))
        return 1;
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));

    const bool plugged = report("plug-to-read, adapter with station (CLI --wait --all)", pluggedAdapters(cli, rounds), rounds);
    const bool next = report("plug-to-read, next station on an attached adapter (CLI --wait)", nextStations(cli, rounds), rounds);
    return plugged && next ? 0 : 1;
}
