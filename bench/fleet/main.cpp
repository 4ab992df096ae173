// Eight stations programmed with one `program` call over eight ports,
// against one station alone, in the same run: the fleet runner's children
// wait on their lines side by side, so eight take about as long as one.
// Each station answers at the real line's pace (57600 baud).
//
//   bench_fleet CLI [rounds]   (default 5 rounds; CLI is rechannel-cli)

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QStringList>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "PtyStationHost.h"

namespace {

constexpr int kBaud = 57600;
constexpr int kPorts = 8;
constexpr double kTarget = 1.10;

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
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return -1;
    return static_cast<double>(timer.nsecsElapsed()) / 1e6;
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
    for (int i = 0; i < kPorts; ++i) {
        hosts.push_back(std::make_unique<sim::PtyStationHost>());
        hosts.back()->setPacing(kBaud);
        if (!hosts.back()->start()) {
            std::fprintf(stderr, "cannot start the simulated stations\n");
            return 1;
        }
    }

    // Alternate the two, so both see the same load on the machine.
    std::vector<double> single, fleet, ratios;
    std::printf("round  one port ms  %d ports ms   ratio\n", kPorts);
    for (int r = 0; r < rounds; ++r) {
        const double one = timeProgram(cli, hosts, 1);
        const double all = timeProgram(cli, hosts, kPorts);
        if (one < 0 || all < 0) {
            std::printf("%5d  a run did not move its stations\n", r + 1);
            return 1;
        }
        single.push_back(one);
        fleet.push_back(all);
        ratios.push_back(all / one);
        std::printf("%5d  %11.1f  %10.1f  %.4f\n", r + 1, one, all, all / one);
    }
    const double ratio = median(fleet) / median(single);
    std::printf("medians: one port %.1f ms, %d ports %.1f ms, ratio %.4f (round ratios %.4f .. %.4f; target <= %.2f)\n",
                median(single), kPorts, median(fleet), ratio, *std::min_element(ratios.begin(), ratios.end()),
                *std::max_element(ratios.begin(), ratios.end()), kTarget);
    // The floor of this row is the one-port run itself.
    std::printf("=\t%d ports at once vs one, median of %d\t%.3f\t%.3f\t%.2f\n", kPorts, rounds, median(fleet),
                median(single), kTarget);
    return ratio <= kTarget ? 0 : 1;
}
