// 16 and 64 stations programmed with one `program` call, against one station
// alone, in the same run: the fleet runner's children wait on their lines
// side by side, so many take about as long as one, as long as what each
// port costs the processor stays small. Each station answers at the real
// line's pace (57600 baud).
//
//   bench_fleet CLI [rounds]   (default 5 rounds; CLI is rechannel-cli)
//
// The window's fleet (rechannel-fleet) is measured the same way once it can
// be started on given ports without a person: time it here beside the CLI.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QStringList>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include <sys/resource.h>

#include "PtyStationHost.h"

namespace {

constexpr int kBaud = 57600;
struct Size {
    int ports;
    double target;   // at most this many times the one-port run
};
constexpr Size kSizes[] = {{16, 1.05}, {64, 1.10}};
constexpr int kMostPorts = 64;

// Milliseconds of one `program` call over `ports`; -1 when it did not move them all.
double timeProgram(const QString& cli, const std::vector<std::unique_ptr<sim::PtyStationHost>>& hosts, int ports) {
    QStringList args{QStringLiteral("program")};
    for (int i = 0; i < ports; ++i) {
        hosts[i]->withModel([](sim::StationModel& m) { m = sim::makeDefaultStation(); });
        args << QStringLiteral("--port") << QString::fromStdString(hosts[i]->slavePath());
    }
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    process.start(cli, args);
    if (!process.waitForFinished(300000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return -1;
    return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

// Processor time (user + system, ms) of this process (the simulated
// stations) or of the rechannel-cli processes it has waited for.
double cpuMs(int who) {
    rusage usage{};
    ::getrusage(who, &usage);
    const auto ms = [](const timeval& t) { return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_usec) / 1e3; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_fleet RECHANNEL_CLI [rounds]\n");
        return 2;
    }
    const QString cli = QString::fromLocal8Bit(argv[1]);
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;

    std::vector<std::unique_ptr<sim::PtyStationHost>> hosts;
    for (int i = 0; i < kMostPorts; ++i) {
        hosts.push_back(std::make_unique<sim::PtyStationHost>());
        hosts.back()->setPacing(kBaud);
        if (!hosts.back()->start()) {
            std::fprintf(stderr, "cannot start the simulated stations\n");
            return 1;
        }
    }

    // One port, then each size, round after round, so all see the same load.
    std::vector<double> single;
    std::vector<std::vector<double>> fleet(std::size(kSizes));
    const double simBefore = cpuMs(RUSAGE_SELF), cliBefore = cpuMs(RUSAGE_CHILDREN);
    std::printf("round  one port ms  16 ports ms  64 ports ms\n");
    for (int r = 0; r < rounds; ++r) {
        single.push_back(timeProgram(cli, hosts, 1));
        for (std::size_t s = 0; s < std::size(kSizes); ++s) fleet[s].push_back(timeProgram(cli, hosts, kSizes[s].ports));
        if (single.back() < 0 || fleet[0].back() < 0 || fleet[1].back() < 0) {
            std::printf("%5d  a run did not move its stations\n", r + 1);
            return 1;
        }
        std::printf("%5d  %11.1f  %11.1f  %11.1f\n", r + 1, single.back(), fleet[0].back(), fleet[1].back());
    }
    // What each port's run costs the processor, the stations' side apart.
    int runs = 0;
    for (const Size& size : kSizes) runs += size.ports;
    runs = (runs + 1) * rounds;
    std::printf("processor time per port run: rechannel-cli %.1f ms, simulated station %.1f ms\n",
                (cpuMs(RUSAGE_CHILDREN) - cliBefore) / runs, (cpuMs(RUSAGE_SELF) - simBefore) / runs);
    bool met = true;
    for (std::size_t s = 0; s < std::size(kSizes); ++s) {
        const double ratio = median(fleet[s]) / median(single);
        met = met && ratio <= kSizes[s].target;
        std::printf("medians: one port %.1f ms, %d ports %.1f ms, ratio %.4f (target <= %.2f)\n", median(single),
                    kSizes[s].ports, median(fleet[s]), ratio, kSizes[s].target);
    }
    // The floor of these rows is the one-port run itself.
    for (std::size_t s = 0; s < std::size(kSizes); ++s)
        std::printf("=\t%d ports at once vs one (CLI), median of %d\t%.3f\t%.3f\t%.2f\n", kSizes[s].ports, rounds,
                    median(fleet[s]), median(single), kSizes[s].target);
    return met ? 0 : 1;
}
