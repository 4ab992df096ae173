// status, routes, sniff: the worker thread's diagnostics, run on this thread
// against an open connection. Each first reads the station's parameter head
// so the station file and the report files are named after the station.
#include <QElapsedTimer>
#include <QSet>
#include <memory>
#include <atomic>
#include <csignal>
#include <poll.h>

#include "CliOutput.h"
#include "FileProblems.h"
#include "Commands.h"
#include "Outcome.h"
#include "StationFiles.h"
#include "StationRecord.h"
#include "StationSession.h"
#include "WorkThread.h"

namespace {

constexpr int kRouteBlocks = 2048;
constexpr int kStalledCallsAllowed = 3;

// A file left alone is said once on standard error, however often a poll
// tries it again.
void reportFileProblemsOnce() {
    auto said = std::make_shared<QSet<QString>>();
    setFileProblemSink([said](const QString& message) {
        if (said->contains(message)) return;
        said->insert(message);
        printErr(QStringLiteral("rechannel-cli: %1").arg(message));
    });
}

// Opens the station, reads its head into the station record and names the
// station file. Returns -1 to go on, otherwise the exit status.
int prepare(WorkThread& thread, const std::wstring& devicePath) {
    if (!openStationPort(thread.connection(), devicePath)) return exit_status::portNotOpened;
    reportFileProblemsOnce();
    try {
        std::uint8_t head[16] = {};
        thread.connection().readRom16(0xC000, sizeof head, head, 2);
        StationRecord::instance()->setParams(head);
    } catch (int code) {
        thread.connection().close();
        printErr(noAnswerLine(code));
        return exit_status::noProperAnswer;
    }
    ensureStationFile();
    return -1;
}

struct DiagArgs {
    QCommandLineParser parser;
    QCommandLineOption port{QStringLiteral("port"), QStringLiteral("Serial device of the station."),
                            QStringLiteral("PATH")};
    std::wstring devicePath;
};

// Parses the common --port; returns -1 to go on.
int parseDiag(DiagArgs& diag, const QStringList& args, const QString& description) {
    diag.parser.addOption(diag.port);
    const int early = parseCommandLine(diag.parser, args, description);
    if (early >= 0) return early;
    if (!diag.parser.positionalArguments().isEmpty())
        return usageError(diag.parser,
                          QStringLiteral("unexpected argument '%1'").arg(diag.parser.positionalArguments().first()));
    int status = 0;
    if (!requirePort(diag.parser, diag.port, &diag.devicePath, &status)) return status;
    return -1;
}

std::atomic<bool> interrupted{false};
extern "C" void onInterrupt(int) { interrupted = true; }

void progress(int done) {
    if (!stderrIsTerminal()) return;
    constexpr int kWidth = 40;
    const int filled = done * kWidth / kRouteBlocks;
    std::fprintf(stderr, "\r[%s%s] %4d/%d blocks", QByteArray(filled, '#').constData(),
                 QByteArray(kWidth - filled, '.').constData(), done, kRouteBlocks);
    if (done >= kRouteBlocks) std::fputc('\n', stderr);
    std::fflush(stderr);
}

}  // namespace

int runStatus(const QStringList& args) {
    DiagArgs diag;
    const int early = parseDiag(diag, args, QStringLiteral("Reads the station's network status once."));
    if (early >= 0) return early;
    WorkThread thread;
    const int prepared = prepare(thread, diag.devicePath);
    if (prepared >= 0) return prepared;
    try {
        thread.readStatus();
    } catch (int code) {
        thread.connection().close();
        printErr(noAnswerLine(code));
        return exit_status::noProperAnswer;
    }
    thread.connection().close();
    const StationStatus& status = StationRecord::instance()->status();
    printOut(QStringLiteral("vec: %1").arg(status.vec));
    printOut(QStringLiteral("isConnect: %1").arg(status.isConnect ? QStringLiteral("true") : QStringLiteral("false")));
    printOut(QStringLiteral("parent_addr: %1").arg(status.parent_addr));
    printOut(QStringLiteral("quality: %1").arg(status.quality));
    printOut(QStringLiteral("snr: %1").arg(status.snr));
    return 0;
}

int runRoutes(const QStringList& args) {
    DiagArgs diag;
    const int early = parseDiag(diag, args, QStringLiteral("Reads the station's whole route table (one sweep)."));
    if (early >= 0) return early;
    WorkThread thread;
    const int prepared = prepare(thread, diag.devicePath);
    if (prepared >= 0) return prepared;

    // readRouteTable swallows a failed block and retries it on the next
    // call; give up when calls stop making progress.
    thread.setRouteCursor(0);
    int done = 0;
    int stalled = 0;
    progress(done);
    while (done < kRouteBlocks) {
        const int before = thread.getRouteCursor();
        thread.readRouteTable();
        // A call reads at most 32 blocks, so the distance modulo the table
        // size is what it advanced, across the wrap too.
        const int step = (thread.getRouteCursor() - before + kRouteBlocks) % kRouteBlocks;
        if (step == 0) {
            if (++stalled >= kStalledCallsAllowed) {
                thread.connection().close();
                if (stderrIsTerminal()) std::fputc('\n', stderr);
                printErr(QStringLiteral("route table read stopped at block %1: the station does not answer")
                             .arg(thread.getRouteCursor()));
                printErr(noAnswerLine(-1));
                return exit_status::noProperAnswer;
            }
            continue;
        }
        stalled = 0;
        done += step;
        progress(done);
    }
    thread.connection().close();

    printOut(QStringLiteral("address\tquality\tsnr\tcount\taverage_snr\ttime"));
    const auto& table = StationRecord::instance()->routeTable;
    for (auto it = table.cbegin(); it != table.cend(); ++it) {
        printOut(QStringLiteral("%1\t%2\t%3\t%4\t%5\t%6")
                     .arg(it.key())
                     .arg(it->quality)
                     .arg(it->snr)
                     .arg(it->count)
                     .arg(it->average_snr)
                     .arg(it->time));
    }
    return 0;
}

int runSniff(const QStringList& args) {
    DiagArgs diag;
    const QCommandLineOption interval(QStringLiteral("interval"), QStringLiteral("Poll interval in ms (default 200)."),
                                      QStringLiteral("MS"), QStringLiteral("200"));
    const QCommandLineOption duration(QStringLiteral("duration"),
                                      QStringLiteral("Stop after S seconds (default: until Ctrl-C)."), QStringLiteral("S"));
    diag.parser.addOptions({interval, duration});
    const int early = parseDiag(diag, args, QStringLiteral("Follows the station's sniffer ring; one CSV line per packet."));
    if (early >= 0) return early;
    bool ok = false;
    const int intervalMs = diag.parser.value(interval).toInt(&ok);
    if (!ok || intervalMs < 1 || intervalMs > 3600000)
        return usageError(diag.parser, QStringLiteral("--interval takes 1 to 3600000 ms"));
    qint64 durationMs = -1;
    if (diag.parser.isSet(duration)) {
        const int seconds = diag.parser.value(duration).toInt(&ok);
        if (!ok || seconds < 0 || seconds > 864000) return usageError(diag.parser, QStringLiteral("--duration takes 0 to 864000 s"));
        durationMs = qint64(seconds) * 1000;
    }

    WorkThread thread;
    const int prepared = prepare(thread, diag.devicePath);
    if (prepared >= 0) return prepared;
    thread.setSnifferLineSink([](const QString& line) { printOut(line); });

    interrupted = false;
    struct sigaction action {};
    action.sa_handler = onInterrupt;   // no SA_RESTART: the wait below ends early
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    QElapsedTimer clock;
    clock.start();
    int status = 0;
    while (!interrupted && (durationMs < 0 || clock.elapsed() < durationMs)) {
        try {
            thread.readSnifferBuffer();
        } catch (int code) {
            printErr(noAnswerLine(code));
            status = exit_status::noProperAnswer;
            break;
        }
        qint64 wait = intervalMs;
        if (durationMs >= 0) wait = std::min<qint64>(wait, std::max<qint64>(0, durationMs - clock.elapsed()));
        if (wait > 0 && !interrupted) ::poll(nullptr, 0, static_cast<int>(wait));
    }
    thread.connection().close();
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    return status;
}
