// rechannel-cli: the window's job and the diagnostics without a window.
#include <QCoreApplication>
#include <QStringList>
#include <functional>
#include <map>

#include "AppContext.h"
#include "CliOutput.h"
#include "Commands.h"
#include "LogDirectory.h"
#include "Outcome.h"
#include "StationRecord.h"

namespace {

const char* const kOverview =
    "Usage: rechannel-cli COMMAND [options]\n"
    "Moves a radio station from system 0x9E to channel 1902 / system 0x3A over a serial port.\n"
    "\n"
    "Commands:\n"
    "  ports      list the serial ports (* marks the one the window preselects, B a Bluetooth port)\n"
    "  program    program a station: --port PORT | --simulate  [--no-verify] [--no-backup] [--wire-trace]\n"
    "             several at once: --port PORT --port PORT ... | --all [--match TEXT]; --wait for station after station\n"
    "  restore    write a backup's channel settings back: --port PORT [FILE] [--force] [--no-backup]\n"
    "  status     read the station's network status once: --port PORT\n"
    "  routes     read the station's whole route table: --port PORT\n"
    "  sniff      follow the station's sniffer ring: --port PORT [--interval MS] [--duration S]\n"
    "             [--status-every S] [--max-failures N]\n"
    "  simulate   run a simulated station on a pseudo-terminal (--count N for a hub of them)\n"
    "  ledger     runs per outcome and each station's latest outcome: [--since DATE]\n"
    "  report     merge ledgers into a migration report: [LEDGER|FOLDER]... [--html FILE] [--csv FILE]\n"
    "             [--since DATE] [--until DATE]\n"
    "\n"
    "'rechannel-cli COMMAND --help' describes a command; 'rechannel-cli --version' prints the version.\n"
    "PORT is a device path, a node name (ttyUSB0) or a name as 'ports' lists it.\n"
    "Over several ports, program exits with the highest status of the ports not moved or already moved.\n"
    "\n"
    "Exit status of program: 0 moved, 1 already moved, 2 usage error, 3 station of another system,\n"
    "4 port not opened or lost, 5 no proper answer, 6 any other failure or no backup saved,\n"
    "7 verify failed and the station stays on its old system, 130 interrupted before the first write.";

// The commands that keep files in the log directory under the home
// directory: backups, the ledger, station and report files.
bool usesLogDirectory(const QString& command) {
    static const QStringList kUsers = {QStringLiteral("program"), QStringLiteral("restore"), QStringLiteral("status"),
                                       QStringLiteral("routes"),  QStringLiteral("sniff"),   QStringLiteral("ledger")};
    return kUsers.contains(command);
}

bool asksForHelp(const QStringList& args) {
    static const QStringList kHelp = {QStringLiteral("--help"), QStringLiteral("-help"), QStringLiteral("-h"),
                                      QStringLiteral("-?"), QStringLiteral("--help-all")};
    for (const QString& arg : args)
        if (kHelp.contains(arg)) return true;
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    prepareStandardStreams();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("rechannel-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(RECHANNEL_VERSION));

    const std::map<QString, std::function<int(const QStringList&)>> commands = {
        {QStringLiteral("ports"), runPorts},       {QStringLiteral("program"), runProgram},
        {QStringLiteral("restore"), runRestore},   {QStringLiteral("status"), runStatus},
        {QStringLiteral("routes"), runRoutes},     {QStringLiteral("sniff"), runSniff},
        {QStringLiteral("simulate"), runSimulate}, {QStringLiteral("ledger"), runLedger},
        {QStringLiteral("report"), runReport},
    };

    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 2 || args[1] == QLatin1String("--help") || args[1] == QLatin1String("-h")) {
        const bool asked = args.size() >= 2;
        (asked ? printOut : printErr)(QString::fromUtf8(kOverview));
        return asked ? 0 : exit_status::usage;
    }
    if (args[1] == QLatin1String("--version") || args[1] == QLatin1String("-V")) {
        printOut(QStringLiteral("rechannel-cli %1").arg(QCoreApplication::applicationVersion()));
        return 0;
    }
    const auto command = commands.find(args[1]);
    if (command == commands.end()) {
        printErr(QStringLiteral("rechannel-cli: unknown command '%1'").arg(args[1]));
        printErr(QString::fromUtf8(kOverview));
        return exit_status::usage;
    }

    if (usesLogDirectory(args[1]) && !asksForHelp(args) && !homeDirectoryKnown()) {
        printErr(QStringLiteral("rechannel-cli: %1 is not set, so there is no home directory for QuelvintLog (the "
                                "backups and the ledger); nothing was done. Set %1 to your home directory and "
                                "run again.")
                     .arg(homeVariable()));
        return exit_status::otherFailure;
    }
    ensureLogDirectory();
    StationRecord::create();
    AppContext::create();

    const int status = command->second(args.mid(1));
    StationRecord::destroy();
    return status;
}
