// simulate: a simulated station on a pseudo-terminal until interrupted, for
// trying the window or the CLI without hardware.
#include <QFileInfo>
#include <memory>
#include <utility>
#include <vector>

#include "CliOutput.h"
#include "Commands.h"
#include "FaultOption.h"
#include "InterruptGuard.h"
#include "Outcome.h"
#include "PtyStationHost.h"
#include "StationMemory.h"
#include "StationPlace.h"
#include "VirtualPorts.h"

namespace {

constexpr int kMaxStations = 64;

struct SimulateOptions {
    sim::DefaultStationOptions station;
    sim::FaultScript faults;
    sim::StationModel model;   // the default station, or the loaded state
    std::string statePath;
    std::string prefix;        // the name to publish under; empty: unlisted
    bool numbered = false;     // --count given: "PREFIX 1" ... "PREFIX N"
    int stations = 1;
};

bool parseByte(const QCommandLineParser& parser, const QString& option, int min, int max, int* out) {
    if (!parser.isSet(option)) return true;
    bool ok = false;
    const QString text = parser.value(option);
    const int value = text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive) ? text.mid(2).toInt(&ok, 16)
                                                                                 : text.toInt(&ok, 10);
    if (!ok || value < min || value > max) return false;
    *out = value;
    return true;
}

// Publishes one station; 0, or the exit status after saying why not.
int publishStation(const std::string& name, const std::string& target) {
    PublishRefusal why = PublishRefusal::None;
    if (publishVirtualPort(name, target, &why)) return 0;
    const QString shown = QString::fromStdString(name);
    const QString dir = QString::fromStdString(virtualPortDirectory());
    switch (why) {
    case PublishRefusal::BadName:
        printErr(QStringLiteral("rechannel-cli: '%1' cannot be a port name: give a name without '/' that does not "
                                "begin with a dot")
                     .arg(shown));
        return exit_status::usage;
    case PublishRefusal::Taken:
        printErr(QStringLiteral("rechannel-cli: '%1' is taken in %2 (another simulated station has it); choose "
                                "another name, or end that simulator first")
                     .arg(shown, dir));
        return exit_status::usage;
    case PublishRefusal::None:
    case PublishRefusal::Failed:
        break;
    }
    printErr(QStringLiteral("rechannel-cli: could not publish '%1' in %2").arg(shown, dir));
    return exit_status::otherFailure;
}

void addSimulateOptions(QCommandLineParser& parser) {
    const auto option = [](const char* name, const char* description, const char* value) {
        return QCommandLineOption(QLatin1String(name), QString::fromLatin1(description), QLatin1String(value));
    };
    parser.addOptions({
        option("publish", "List the station as a port named NAME (the window shows it).", "NAME"),
        option("state", "Load the station memory from FILE and save it at every write.", "FILE"),
        option("system", "System code (default 0x9E).", "CODE"),
        option("range", "Frequency range code (default 1); 0..4 are ranges, others a station the utility refuses.", "N"),
        option("version", "Version byte (default 0x81).", "CODE"),
        option("band", "Band type (default 4).", "N"),
        option("channels", "Channel positions (default 2).", "N"),
        option("channel", "Channel of position 0 (default 500).", "N"),
        option("fault",
               "Misbehave: KIND[=ARGS][@N|@*], KIND one of noreply, delay=MS, pieces=BYTES,GAPMS, badcrc, status=N, "
               "echo, garbage=N, oversized, datalen=N, ignorewrite, hangup (the adapter pulled out), powerlost@N. Repeatable.",
               "FAULT"),
        option("address", "Station address (default 291); with --count the first of N.", "N"),
        option("count", "Run N stations with consecutive addresses, published as 'NAME 1' ... 'NAME N' (default 1).", "N"),
        option("parent", "Parent node in the mesh, as the status read finds it (default 69).", "N"),
        option("link", "Link quality to the parent, 0..3 (default 3).", "N"),
        option("signal", "The station's own signal level in dB, -130..-3 (default -80).", "DB"),
    });
    parser.addOption(QCommandLineOption(QStringLiteral("detached"), QStringLiteral("Not attached to the mesh network.")));
}

int readPlaceOptions(const QCommandLineParser& parser, sim::DefaultStationOptions* options);

// The station's bytes, the count, the first address and the place in the
// mesh; -1, or the exit status after saying what is wrong.
int readStationOptions(const QCommandLineParser& parser, SimulateOptions* out) {
    sim::DefaultStationOptions& options = out->station;
    int value = 0;
    const struct {
        const char* option;
        int max;
        std::uint8_t* target;
    } bytes[] = {{"system", 255, &options.system},   {"range", 255, &options.rangeCode},
                 {"version", 255, &options.version}, {"band", 255, &options.bandType},
                 {"channels", 8, &options.channelCount}};
    for (const auto& byte : bytes) {
        value = *byte.target;
        if (!parseByte(parser, QLatin1String(byte.option), 0, byte.max, &value))
            return usageError(parser, QStringLiteral("--%1 takes 0 to %2").arg(QLatin1String(byte.option)).arg(byte.max));
        *byte.target = static_cast<std::uint8_t>(value);
    }
    value = options.channel0;
    if (!parseByte(parser, QStringLiteral("channel"), 0, 65535, &value))
        return usageError(parser, QStringLiteral("--channel takes 0 to 65535"));
    options.channel0 = static_cast<std::uint16_t>(value);
    if (!parseByte(parser, QStringLiteral("count"), 1, kMaxStations, &out->stations))
        return usageError(parser, QStringLiteral("--count takes 1 to %1").arg(kMaxStations));
    value = options.address;
    if (!parseByte(parser, QStringLiteral("address"), 0, 65536 - out->stations, &value))
        return usageError(parser, QStringLiteral("--address takes 0 to %1").arg(65536 - out->stations));
    options.address = static_cast<std::uint16_t>(value);
    return readPlaceOptions(parser, &options);
}

// Where the station stands in the mesh; -1, or the exit status.
int readPlaceOptions(const QCommandLineParser& parser, sim::DefaultStationOptions* options) {
    int value = options->parent;
    if (!parseByte(parser, QStringLiteral("parent"), 0, 65535, &value))
        return usageError(parser, QStringLiteral("--parent takes 0 to 65535"));
    options->parent = static_cast<std::uint16_t>(value);
    if (!parseByte(parser, QStringLiteral("link"), 0, station_place::kLinkMax, &options->link))
        return usageError(parser, QStringLiteral("--link takes 0 to %1").arg(station_place::kLinkMax));
    if (!parseByte(parser, QStringLiteral("signal"), station_place::kSignalMin, station_place::kSignalMax, &options->signal))
        return usageError(parser, QStringLiteral("--signal takes %1 to %2 (dB)").arg(station_place::kSignalMin).arg(station_place::kSignalMax));
    options->attached = !parser.isSet(QStringLiteral("detached"));
    return -1;
}

// -1 when the simulator is to run, else the exit status after saying why not.
int parseSimulateOptions(const QStringList& args, SimulateOptions* options) {
    QCommandLineParser parser;
    addSimulateOptions(parser);
    const int early = parseCommandLine(parser, args, QStringLiteral("Runs a simulated station until interrupted."));
    if (early >= 0) return early;
    if (!parser.positionalArguments().isEmpty())
        return usageError(parser, QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first()));

    // An empty name would run the station unlisted, while the user waits for it in the port list.
    const QString publish = QStringLiteral("publish");
    if (parser.isSet(publish) && parser.value(publish).isEmpty())
        return usageError(parser, QStringLiteral("--publish takes a name; leave it out to run an unlisted station"));
    const int wrong = readStationOptions(parser, options);
    if (wrong >= 0) return wrong;
    const QString state = parser.value(QStringLiteral("state"));
    if (options->stations > 1 && parser.isSet(QStringLiteral("state")))
        return usageError(parser, QStringLiteral("--state keeps one station; leave it out with --count"));
    for (const QString& option : parser.values(QStringLiteral("fault"))) {
        QString error;
        if (!applyFaultOption(option, options->faults, &error)) return usageError(parser, error);
    }
    options->prefix = parser.value(publish).toStdString();
    options->numbered = parser.isSet(QStringLiteral("count"));
    options->statePath = state.toStdString();
    options->model = sim::makeDefaultStation(options->station);
    if (!state.isEmpty() && QFileInfo::exists(state) && !sim::loadStationState(options->model, options->statePath)) {
        printErr(QStringLiteral("rechannel-cli: %1 is not a simulated station's state").arg(state));
        return exit_status::usage;
    }
    return -1;
}

// The stations on their pseudo-terminals, each published under its name:
// the one place that needs ptys.
struct PtyBench {
    std::vector<std::unique_ptr<sim::PtyStationHost>> hosts;
    std::vector<std::pair<std::string, std::string>> published;   // name, the pty it points at

    // The links go while the ptys are still ours: a pty freed first could be
    // handed to another simulator publishing under the same name.
    ~PtyBench() {
        for (const auto& [name, target] : published) unpublishVirtualPort(name, target);
        for (auto& host : hosts) host->stop();
    }

    // Starts and publishes every station, printing each pty; 0, or the exit
    // status after saying why not.
    int serve(const SimulateOptions& options) {
        // Every station of a hub rehearsal gets its own address, so the ledger
        // and the fleet summary can tell them apart.
        for (int i = 0; i < options.stations; ++i) {
            sim::StationModel station = options.model;
            // A loaded state keeps its own address; only the default one counts up.
            if (options.statePath.empty())
                station.setRom16(paramAddress(kAddressOffset), static_cast<std::uint16_t>(options.station.address + i));
            auto host = std::make_unique<sim::PtyStationHost>(std::move(station));
            host->setFaults(options.faults);
            if (!options.statePath.empty())
                host->setOnWrite([path = options.statePath](const sim::StationModel& written) { sim::saveStationState(written, path); });
            if (!host->start()) {
                printErr(QStringLiteral("rechannel-cli: could not create a pseudo-terminal"));
                return exit_status::otherFailure;
            }
            // With --count, always numbered: "PREFIX 1" even for one station.
            const std::string& prefix = options.prefix;
            const std::string name = prefix.empty() || !options.numbered ? prefix : prefix + " " + std::to_string(i + 1);
            if (!name.empty()) {
                if (const int status = publishStation(name, host->slavePath())) return status;
                published.emplace_back(name, host->slavePath());
            }
            printOut(QString::fromStdString(host->slavePath()));
            hosts.push_back(std::move(host));
        }
        return 0;
    }
};

}  // namespace

int runSimulate(const QStringList& args) {
    SimulateOptions options;
    const int early = parseSimulateOptions(args, &options);
    if (early >= 0) return early;
    // Caught before any station's thread starts, so the links are always
    // removed, whichever thread a stop lands on.
    interrupt_guard::installStopRequest();
    PtyBench bench;
    const int status = bench.serve(options);
    if (status == 0) interrupt_guard::waitUnlessStopped(-1);
    return status;
}
