// rechannel-cli: the window's job and the diagnostics without a window.
#include <QCoreApplication>
#include <QStringList>
#include <cstring>

#include "AppContext.h"
#include "ChildProcess.h"
#include "CliOutput.h"
#include "Commands.h"
#include "LogDirectory.h"
#include "Outcome.h"
#include "OutputQueue.h"
#include "StationRecord.h"
#include "Trace.h"

namespace {

// Every command, once: its name, what it does for the overview (a line
// break continues it under the first), and whether it keeps files in the log
// directory under the home directory (backups, the ledger, station and
// report files). A new command is one more row.
struct Command {
    const char* name;
    int (*run)(const QStringList&);
    bool usesLogDirectory;
    const char* summary;
};

const Command kCommands[] = {
    {"ports", runPorts, false, "list the serial ports (* marks the one the window preselects, B a Bluetooth port)"},
    {"program", runProgram, true,
     "program a station: --port PORT | --simulate  [--no-verify] [--no-backup] [--wire-trace]\n"
     "several at once: --port PORT --port PORT ... | --all [--match TEXT]; --wait for station after station"},
    {"restore", runRestore, true, "write a backup's channel settings back: --port PORT [FILE] [--force] [--no-backup]"},
    {"status", runStatus, true, "read the station's network status once: --port PORT"},
    {"routes", runRoutes, true, "read the station's whole route table: --port PORT"},
    {"sniff", runSniff, true,
     "follow the station's sniffer ring: --port PORT [--interval MS] [--duration S]\n"
     "[--status-every S] [--max-failures N]"},
    {"simulate", runSimulate, false, "run a simulated station on a pseudo-terminal (--count N for a hub of them)"},
    {"ledger", runLedger, true, "runs per outcome and each station's latest outcome: [--since DATE]"},
    {"report", runReport, false,
     "merge ledgers into a migration report: [LEDGER|FOLDER]... [--html FILE] [--csv FILE]\n"
     "[--since DATE] [--until DATE]"},
};

const Command* commandNamed(const QString& name) {
    for (const Command& command : kCommands)
        if (name == QLatin1String(command.name)) return &command;
    return nullptr;
}

// "Exit status of program: 0 moved, ..." wrapped into lines of at most
// kWidth characters, each but the last ending with a comma.
QString exitStatusText() {
    constexpr int kWidth = 100;
    QString text = QStringLiteral("Exit status of program:");
    int lineStart = 0;
    const int count = static_cast<int>(sizeof kExitStatusMeanings / sizeof kExitStatusMeanings[0]);
    for (int i = 0; i < count; ++i) {
        const QString item = QStringLiteral("%1 %2%3")
                                 .arg(kExitStatusMeanings[i].status)
                                 .arg(QLatin1String(kExitStatusMeanings[i].meaning))
                                 .arg(i + 1 < count ? QLatin1Char(',') : QLatin1Char('.'));
        if (text.size() - lineStart + 1 + item.size() > kWidth) {
            text += QLatin1Char('\n');
            lineStart = text.size();
        } else {
            text += QLatin1Char(' ');
        }
        text += item;
    }
    return text;
}

QString overview() {
    constexpr int kNameWidth = 11;
    QString text = QStringLiteral("Usage: rechannel-cli COMMAND [options]\n"
                                  "Moves a radio station from system 0x9E to channel 1902 / system 0x3A over a serial "
                                  "port.\n\nCommands:\n");
    for (const Command& command : kCommands) {
        const QStringList lines = QString::fromUtf8(command.summary).split(QLatin1Char('\n'));
        text += QStringLiteral("  ") + QString::fromLatin1(command.name).leftJustified(kNameWidth) + lines.front() +
                QLatin1Char('\n');
        for (int i = 1; i < lines.size(); ++i)
            text += QString(2 + kNameWidth, QLatin1Char(' ')) + lines[i] + QLatin1Char('\n');
    }
    return text + QStringLiteral(
        "\n"
        "'rechannel-cli COMMAND --help' describes a command; 'rechannel-cli --version' prints the version.\n"
        "PORT is a device path, a node name (ttyUSB0) or a name as 'ports' lists it.\n"
        "Over several ports, program exits with the highest status of the ports not moved or already moved.\n"
        "\n") + exitStatusText();
}

bool asksForHelp(const QStringList& args) {
    static const QStringList kHelp = {QStringLiteral("--help"), QStringLiteral("-help"), QStringLiteral("-h"),
                                      QStringLiteral("-?"), QStringLiteral("--help-all")};
    for (const QString& arg : args)
        if (kHelp.contains(arg)) return true;
    return false;
}

int runCli(int argc, char** argv) {
    prepareStandardStreams();
    // The job's trace is written on the thread that works the line: queued,
    // like every other line, so a paused console never holds a frame back.
    setTraceStream(&output_queue::standardOutput());
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("rechannel-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(RECHANNEL_VERSION));

    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 2 || args[1] == QLatin1String("--help") || args[1] == QLatin1String("-h")) {
        const bool asked = args.size() >= 2;
        (asked ? printOut : printErr)(overview());
        return asked ? 0 : exit_status::usage;
    }
    if (args[1] == QLatin1String("--version") || args[1] == QLatin1String("-V")) {
        printOut(QStringLiteral("rechannel-cli %1").arg(QCoreApplication::applicationVersion()));
        return 0;
    }
    const Command* command = commandNamed(args[1]);
    if (!command) {
        printErr(QStringLiteral("rechannel-cli: unknown command '%1'").arg(args[1]));
        printErr(overview());
        return exit_status::usage;
    }

    if (command->usesLogDirectory && !asksForHelp(args) && !homeDirectoryKnown()) {
        printErr(QStringLiteral("rechannel-cli: %1 is not set, so there is no home directory for QuelvintLog (the "
                                "backups and the ledger); nothing was done. Set %1 to your home directory and "
                                "run again.")
                     .arg(homeVariable()));
        return exit_status::otherFailure;
    }
    ensureLogDirectory();
    StationRecord::create();
    AppContext::create();

    const int status = command->run(args.mid(1));
    StationRecord::destroy();
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    // A fleet starts rechannel-cli once as the launcher of its runs, each a
    // fork of it (ChildProcess.h).
    if (argc == 2 && std::strcmp(argv[1], kServeForkedRunsArgument) == 0) return serveForkedRuns(runCli);
    return runCli(argc, argv);
}
