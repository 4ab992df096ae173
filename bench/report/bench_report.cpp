// The migration report over a large fleet: 20 ledgers of 5,000 lines each
// (two of them backups of others, so 10,000 lines come twice), 10,000
// stations over 30 days, each run with the place its station reported (a
// mesh ten deep), and a plan of the 10,000 stations with their names and
// places; merged, split and written as HTML and CSV. The budget is one
// second; the peak memory is printed beside it. Then the page of a network
// just small enough for its picture (500 stations), which the big one is
// not: the picture's own cost.
//   bench_report [rounds]
#include <sys/resource.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimeZone>
#include <chrono>
#include <cstdio>

#include "Ledger.h"
#include "MigrationReport.h"
#include "NetworkTree.h"

namespace {

constexpr int kFiles = 20;
constexpr int kLinesPerFile = 5000;
constexpr int kStations = 10000;
const char* const kOutcomes[] = {"moved", "moved", "moved", "already-moved", "no-answer", "partly-written", "restored", "other-system"};

QByteArray ledgerFile(int file) {
    QByteArray text = QByteArray(ledger::kHeader) + '\n';
    const QDateTime start(QDate(2026, 11, 2), QTime(8, 0), QTimeZone(3 * 3600));
    for (int i = 0; i < kLinesPerFile; ++i) {
        LedgerEntry e;
        const int n = file * kLinesPerFile + i;
        e.time = start.addSecs(qint64(n) * 26);
        e.port = QStringLiteral("/dev/ttyUSB%1").arg(i % 4);
        e.address = n * 7 % kStations + 1;
        e.systemBefore = 158;
        e.channelBefore = 500;
        e.outcome = QLatin1String(kOutcomes[n % 8]);
        e.backup = QStringLiteral("/home/tech%1/QuelvintLog/backups/261102-080000_%2_158.bin").arg(file).arg(*e.address);
        e.verified = QStringLiteral("yes");
        e.seconds = 2.1;
        e.setup = QString::number(*e.address * 2654435761u, 16);
        e.host = QStringLiteral("tech-%1").arg(file);
        // A mesh of ten children a station, rooted at 0, read before each run's writes.
        if (*e.address % 10 != 3) e.place = StationPlace{3, true, std::uint16_t(*e.address / 10), 1 + *e.address % 3, -70 - *e.address % 50};
        text += ledger::formatLine(e) + '\n';
    }
    return text;
}

double cpuMs() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0 + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
}

long peakKilobytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

QByteArray planFile(int stations) {
    QByteArray text = "address,name,place,notes\n";
    for (int a = 1; a <= stations; ++a)
        text += QByteArray::number(a) + ",\"Узел " + QByteArray::number(a) + "\",\"ул. Лесная, " + QByteArray::number(a % 300) +
                "\",\n";
    return text;
}

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// The page of a network of `stations` with its picture: the time to write it.
double pictureMs(const QTemporaryDir& out, int stations) {
    QByteArray ledgerText = QByteArray(ledger::kHeader) + '\n';
    const QDateTime start(QDate(2026, 11, 2), QTime(8, 0), QTimeZone(3 * 3600));
    for (int a = 1; a < stations; ++a) {
        LedgerEntry e;
        e.time = start.addSecs(a * 60);
        e.port = QStringLiteral("COM3");
        e.address = a;
        e.outcome = QLatin1String(kOutcomes[a % 8]);
        e.setup = QString::number(a * 2654435761u, 16);
        e.place = StationPlace{3, true, std::uint16_t(a / 4), 2, -80};
        ledgerText += ledger::formatLine(e) + '\n';
    }
    ReportRequest request;
    request.inputs << out.filePath(QStringLiteral("small-ledger.csv"));
    request.planFile = out.filePath(QStringLiteral("small-plan.csv"));
    request.htmlFile = out.filePath(QStringLiteral("small.html"));
    if (!writeFile(request.inputs.first(), ledgerText) || !writeFile(request.planFile, planFile(stations - 1))) return -1;
    const auto t0 = std::chrono::steady_clock::now();
    const ReportResult result = makeReport(request);
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    QFile page(request.htmlFile);
    const bool drawn = page.open(QIODevice::ReadOnly) && page.readAll().count("<g class=\"station\"") == stations;
    return result.filesWritten && drawn ? ms : -1;
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 3;
    QTemporaryDir dir, out;
    for (int f = 0; f < kFiles; ++f) {
        QFile file(dir.filePath(QStringLiteral("ledger-%1.csv").arg(f, 2, 10, QLatin1Char('0'))));
        if (!file.open(QIODevice::WriteOnly)) return 1;
        file.write(ledgerFile(f < kFiles - 2 ? f : f - (kFiles - 2)));   // the last two are backups of the first two
    }
    ReportRequest request;
    request.inputs << dir.path();
    request.planFile = out.filePath(QStringLiteral("plan.csv"));
    if (!writeFile(request.planFile, planFile(kStations))) return 1;
    request.htmlFile = out.filePath(QStringLiteral("report.html"));
    request.csvFile = out.filePath(QStringLiteral("stations.csv"));
    {
        ReportRequest mergeOnly;
        mergeOnly.inputs = request.inputs;
        const double cpuStart = cpuMs();
        const ReportResult merged = makeReport(mergeOnly);
        std::printf("merge alone (no file written): %.1f ms of CPU, %zu stations\n", cpuMs() - cpuStart, merged.report.stations.size());
    }
    const long before = peakKilobytes();
    int failures = 0;
    for (int round = 0; round < rounds; ++round) {
        const auto start = std::chrono::steady_clock::now();
        const double cpuStart = cpuMs();
        const ReportResult result = makeReport(request);
        const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        const double cpu = cpuMs() - cpuStart;
        if (!result.allInputsRead || !result.filesWritten || result.report.duplicates != 2 * kLinesPerFile ||
            result.report.mesh.planned != kStations || result.report.mesh.cutOff.empty())
            ++failures;
        std::printf("report %d: %d lines in %d files, %d runs, %zu stations, %d duplicates: %.1f ms (%.1f ms of CPU), peak memory %ld KiB (%ld KiB before)\n",
                    round + 1, kFiles * kLinesPerFile, kFiles, result.report.runs, result.report.stations.size(),
                    result.report.duplicates, ms, cpu, peakKilobytes(), before);
        std::printf("  plan %d stations: %d moved, %d not visited; %zu cut off from the old network, %zu alone in the new\n",
                    result.report.mesh.planned, result.report.mesh.plannedMoved, result.report.mesh.notVisited,
                    result.report.mesh.cutOff.size(), result.report.mesh.aloneInNew.size());
        std::printf("=\tmigration report, 100,000 lines, 10,000 planned (round %d)\t%.3f\t1000\t1.00\n", round + 1, ms);
        std::printf("=\t  the same, CPU time of the process\t%.3f\t1000\t1.00\n", cpu);
    }
    const double picture = pictureMs(out, kTreeLimit);
    if (picture < 0) ++failures;
    std::printf("the page of %d stations with its picture: %.1f ms\n", kTreeLimit, picture);
    std::printf("=\t  a %d-station network's page with its picture\t%.3f\t1000\t1.00\n", kTreeLimit, picture);
    if (failures) std::fprintf(stderr, "%d rounds did not read every ledger and the plan or write both files\n", failures);
    return failures ? 1 : 0;
}
