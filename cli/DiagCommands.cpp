// status, routes, sniff: the worker thread's diagnostics, run on this thread
// against an open connection. Each first reads the station's parameter head,
// so the station file and the report files are named after the station, and
// merges the station file into the record, so every write keeps the history
// of earlier sessions.
#include <QElapsedTimer>
#include <QSet>
#include <memory>

#include "AppContext.h"
#include "CliOutput.h"
#include "Commands.h"
#include "FileProblems.h"
#include "InterruptGuard.h"
#include "Outcome.h"
#include "OutputQueue.h"
#include "SnifferMark.h"
#include "StationFiles.h"
#include "StationMemory.h"
#include "StationRecord.h"
#include "StationRam.h"
#include "StationSession.h"
#include "WorkThread.h"

namespace {

constexpr int kRouteBlocks = station_ram::kRouteBlocks;
constexpr int kStalledCallsAllowed = 3;

// The station's own signal level (status snr, the noise column) is in dB;
// what its route rows and the sniffer ring carry per neighbour is a raw
// level byte.
const QString kRawScale = QStringLiteral("raw level 0..255");
const QString kDbScale = QStringLiteral("dB");

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

// Names the station file after the head just read, merges what the file
// holds (status and route table of earlier sessions) into the record and
// refreshes the file's parameter head and time. The record keeps the head
// read from the station: the file's may be from before a move. A file that
// is there but does not load is neither read nor replaced in this session:
// what it holds may be all the history there is.
void mergeStationFile(const ParamHead& head) {
    StationRecord* record = StationRecord::instance();
    const QString path = ensureStationFile();
    QString problem;
    if (!loadStationFileChecked(path, &problem)) {
        AppContext::instance()->holdStationFile();
        printErr(QStringLiteral("rechannel-cli: %1 %2: left alone, and no station file is written in this session; "
                                "move it aside to start a new one")
                     .arg(path, problem));
        return;
    }
    record->setParams(head.data());
    writeParamsFile();
}

// An exchange that failed: said, and the exit status. An adapter pulled out
// (the port lost) is not a silent station: nothing is to be gained by asking
// again, so it ends the command at once with the status of a port not opened.
int failedExchange(WorkThread& thread, int code) {
    const bool lost = code == link_codes::kPortLost || thread.connection().portLost();
    thread.connection().close();
    printErr(noAnswerLine(lost ? link_codes::kPortLost : code));
    return lost ? exit_status::portNotOpened : exit_status::noProperAnswer;
}

// Opens the station, reads its head into the station record and merges the
// station file. Returns -1 to go on, otherwise the exit status.
int prepare(WorkThread& thread, const std::wstring& devicePath) {
    if (!openStationPort(thread.connection(), devicePath)) return exit_status::portNotOpened;
    reportFileProblemsOnce();
    ParamHead head{};
    try {
        thread.connection().readRom16(kParamBlockAddress, static_cast<int>(head.size()), head.data(), 2);
    } catch (int code) {
        return failedExchange(thread, code);
    }
    StationRecord::instance()->setParams(head.data());
    mergeStationFile(head);
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

// An option's whole number in [low, high]; false when it is not one.
bool intOption(const QCommandLineParser& parser, const QCommandLineOption& option, int low, int high, int* value) {
    bool ok = false;
    *value = parser.value(option).toInt(&ok);
    return ok && *value >= low && *value <= high;
}

void progress(int done) {
    if (!stderrIsTerminal()) return;
    constexpr int kWidth = 40;
    const int filled = done * kWidth / kRouteBlocks;
    QByteArray line = "\r[" + QByteArray(filled, '#') + QByteArray(kWidth - filled, '.') + "] " +
                      QByteArray::number(done).rightJustified(4) + '/' + QByteArray::number(kRouteBlocks) + " blocks";
    if (done >= kRouteBlocks) line += '\n';
    output_queue::write(output_queue::Stream::Err, line.toStdString());
}

void endProgressLine() {
    if (stderrIsTerminal()) output_queue::write(output_queue::Stream::Err, "\n");
}

void printRouteTable() {
    printOut(QStringLiteral("address\tquality\tsnr (%1)\tcount\taverage_snr (%1)\ttime").arg(kRawScale));
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
}

// One sweep of the whole table, 32 blocks a call. readRouteTable swallows a
// failed block and retries it on the next call; the sweep gives up when
// calls stop making progress. Returns -1 when the sweep is complete,
// otherwise the exit status.
int sweepRouteTable(WorkThread& thread) {
    thread.setRouteCursor(0);
    int done = 0;
    int stalled = 0;
    progress(done);
    while (done < kRouteBlocks) {
        if (interrupt_guard::stopRequested()) {
            endProgressLine();
            printErr(QStringLiteral("route table read interrupted after %1 of %2 blocks").arg(done).arg(kRouteBlocks));
            return exit_status::interrupted;
        }
        const int before = thread.getRouteCursor();
        thread.readRouteTable();
        // A call reads at most 32 blocks, so the distance modulo the table
        // size is what it advanced, across the wrap too.
        const int step = (thread.getRouteCursor() - before + kRouteBlocks) % kRouteBlocks;
        if (step == 0 && thread.connection().portLost()) {
            endProgressLine();
            printErr(QStringLiteral("route table read stopped at block %1").arg(thread.getRouteCursor()));
            return failedExchange(thread, link_codes::kPortLost);
        }
        if (step == 0) {
            if (++stalled >= kStalledCallsAllowed) {
                endProgressLine();
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
    return -1;
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
        return failedExchange(thread, code);
    }
    thread.connection().close();
    const StationStatus& status = StationRecord::instance()->status();
    printOut(QStringLiteral("vec: %1").arg(status.vec));
    printOut(QStringLiteral("isConnect: %1").arg(status.isConnect ? QStringLiteral("true") : QStringLiteral("false")));
    printOut(QStringLiteral("parent_addr: %1").arg(status.parent_addr));
    printOut(QStringLiteral("quality: %1").arg(status.quality));
    printOut(QStringLiteral("snr: %1 %2 (the station's own signal level)").arg(status.snr).arg(kDbScale));
    return 0;
}

int runRoutes(const QStringList& args) {
    DiagArgs diag;
    const int early = parseDiag(diag, args, QStringLiteral("Reads the station's whole route table (one sweep) into its station file."));
    if (early >= 0) return early;
    WorkThread thread;
    const int prepared = prepare(thread, diag.devicePath);
    if (prepared >= 0) return prepared;

    // Ctrl-C, SIGTERM or a closed terminal ends the sweep between two
    // calls; what was read is stored all the same.
    interrupt_guard::installStopRequest();
    const int swept = sweepRouteTable(thread);
    thread.connection().close();
    // Whatever part of the sweep was read is kept, with the history.
    writeRouteTableFile();
    printRouteTable();
    return swept >= 0 ? swept : 0;
}

namespace {

// A new session goes on after the last packet an earlier one counted for
// this station, so a packet still in the ring is never counted twice.
void resumeFromMark(WorkThread& thread) {
    if (const std::optional<int> mark = loadSnifferMark(stationFilePath())) thread.setSnifferPtr((*mark + 1) & 0xFF);
}

// One read of the ring; when it took packets, their last number is kept.
void pollRing(WorkThread& thread) {
    const int before = thread.getSnifferPtr();
    thread.readSnifferBuffer();
    const int after = thread.getSnifferPtr();
    if (before >= 0 && after != before) saveSnifferMark(stationFilePath(), (after - 1) & 0xFF);
}

struct SniffOptions {
    int intervalMs = 0;
    qint64 durationMs = -1;   // -1: until stopped
    int statusSeconds = 0;
    int failuresAllowed = 0;
};

// Parses sniff's command line; returns -1 to go on.
int parseSniff(DiagArgs& diag, SniffOptions& sniff, const QStringList& args) {
    const QCommandLineOption interval(QStringLiteral("interval"), QStringLiteral("Poll interval in ms (default 200)."),
                                      QStringLiteral("MS"), QStringLiteral("200"));
    const QCommandLineOption duration(QStringLiteral("duration"),
                                      QStringLiteral("Stop after S seconds (default: until Ctrl-C)."), QStringLiteral("S"));
    const QCommandLineOption statusEvery(QStringLiteral("status-every"),
                                         QStringLiteral("Read the station's status (its noise level) every S seconds (default 10)."),
                                         QStringLiteral("S"), QStringLiteral("10"));
    const QCommandLineOption maxFailures(QStringLiteral("max-failures"),
                                         QStringLiteral("End after N failed polls in a row (default 10)."),
                                         QStringLiteral("N"), QStringLiteral("10"));
    diag.parser.addOptions({interval, duration, statusEvery, maxFailures});
    const int early = parseDiag(diag, args, QStringLiteral("Follows the station's sniffer ring; one CSV line per packet."));
    if (early >= 0) return early;
    if (!intOption(diag.parser, interval, 1, 3600000, &sniff.intervalMs))
        return usageError(diag.parser, QStringLiteral("--interval takes 1 to 3600000 ms"));
    if (diag.parser.isSet(duration)) {
        int seconds = 0;
        if (!intOption(diag.parser, duration, 0, 864000, &seconds))
            return usageError(diag.parser, QStringLiteral("--duration takes 0 to 864000 s"));
        sniff.durationMs = qint64(seconds) * 1000;
    }
    if (!intOption(diag.parser, statusEvery, 1, 86400, &sniff.statusSeconds))
        return usageError(diag.parser, QStringLiteral("--status-every takes 1 to 86400 s"));
    if (!intOption(diag.parser, maxFailures, 1, 1000000, &sniff.failuresAllowed))
        return usageError(diag.parser, QStringLiteral("--max-failures takes 1 to 1000000"));
    return -1;
}

// The status read that gives the noise column; a failure is said and counted.
void readNoiseLevel(WorkThread& thread, int& statusFailures) {
    try {
        thread.readStatus();
    } catch (int code) {
        ++statusFailures;
        printErr(QStringLiteral("status read failed (%1 so far; the noise column keeps %2 %3): %4")
                     .arg(statusFailures)
                     .arg(StationRecord::instance()->status().snr)
                     .arg(kDbScale, noAnswerLine(code)));
    }
}

// Polls the ring until stopped, the duration is over or too many polls in a
// row failed; returns the exit status.
int followRing(WorkThread& thread, const SniffOptions& sniff) {
    interrupt_guard::installStopRequest();
    QElapsedTimer clock;
    clock.start();
    const qint64 statusPeriodMs = qint64(sniff.statusSeconds) * 1000;
    qint64 nextStatusMs = 0;   // the status (the noise column) is read first
    int statusFailures = 0;
    int failuresInRow = 0;
    while (!interrupt_guard::stopRequested() && (sniff.durationMs < 0 || clock.elapsed() < sniff.durationMs)) {
        // The status has a schedule of its own: a station whose status read
        // fails is still followed, with the noise level read last.
        if (clock.elapsed() >= nextStatusMs) {
            readNoiseLevel(thread, statusFailures);
            nextStatusMs = clock.elapsed() + statusPeriodMs;
        }
        try {
            pollRing(thread);
            failuresInRow = 0;
        } catch (int code) {
            if (code == link_codes::kPortLost || thread.connection().portLost()) return failedExchange(thread, code);
            // A link that drops a reply now and then must not end an
            // unattended run; only a station that stays silent does.
            ++failuresInRow;
            printErr(QStringLiteral("poll failed (%1 of %2 in a row): %3")
                         .arg(failuresInRow)
                         .arg(sniff.failuresAllowed)
                         .arg(noAnswerLine(code)));
            if (failuresInRow >= sniff.failuresAllowed) {
                printErr(noAnswerLine(code));
                return exit_status::noProperAnswer;
            }
        }
        qint64 wait = sniff.intervalMs;
        if (sniff.durationMs >= 0)
            wait = std::min<qint64>(wait, std::max<qint64>(0, sniff.durationMs - clock.elapsed()));
        if (wait > 0) interrupt_guard::waitUnlessStopped(static_cast<int>(wait));
    }
    return 0;
}

}  // namespace

int runSniff(const QStringList& args) {
    DiagArgs diag;
    SniffOptions sniff;
    const int early = parseSniff(diag, sniff, args);
    if (early >= 0) return early;

    WorkThread thread;
    const int prepared = prepare(thread, diag.devicePath);
    if (prepared >= 0) return prepared;
    thread.setSnifferLineSink([](const QString& line) { printOut(line); });
    resumeFromMark(thread);
    printErr(QStringLiteral("columns: time,src,dst,type,len,snr (%1),noise (%2, the station's own level)")
                 .arg(kRawScale, kDbScale));

    const int status = followRing(thread, sniff);
    thread.connection().close();
    return status;
}
