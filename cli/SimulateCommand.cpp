// simulate: a simulated station on a pseudo-terminal until interrupted, for
// trying the window or the CLI without hardware.
#include <QFileInfo>
#include <csignal>
#include <memory>
#include <pthread.h>
#include <utility>
#include <vector>

#include "CliOutput.h"
#include "Commands.h"
#include "FaultOption.h"
#include "Outcome.h"
#include "PtyStationHost.h"
#include "VirtualPorts.h"

namespace {

constexpr int kMaxStations = 64;

bool parseByte(const QCommandLineParser& parser, const QCommandLineOption& option, int min, int max, int* out) {
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

}  // namespace

int runSimulate(const QStringList& args) {
    QCommandLineParser parser;
    const QCommandLineOption publish(QStringLiteral("publish"),
                                     QStringLiteral("List the station as a port named NAME (the window shows it)."),
                                     QStringLiteral("NAME"));
    const QCommandLineOption state(QStringLiteral("state"),
                                   QStringLiteral("Load the station memory from FILE and save it at every write."),
                                   QStringLiteral("FILE"));
    const QCommandLineOption system(QStringLiteral("system"), QStringLiteral("System code (default 0x9E)."),
                                    QStringLiteral("CODE"));
    const QCommandLineOption range(QStringLiteral("range"), QStringLiteral("Frequency range code (default 1); 0..4 are ranges, others a station the utility refuses."),
                                   QStringLiteral("N"));
    const QCommandLineOption version(QStringLiteral("version"), QStringLiteral("Version byte (default 0x81)."),
                                     QStringLiteral("CODE"));
    const QCommandLineOption band(QStringLiteral("band"), QStringLiteral("Band type (default 4)."), QStringLiteral("N"));
    const QCommandLineOption channels(QStringLiteral("channels"), QStringLiteral("Channel positions (default 2)."),
                                      QStringLiteral("N"));
    const QCommandLineOption channel(QStringLiteral("channel"), QStringLiteral("Channel of position 0 (default 500)."),
                                     QStringLiteral("N"));
    const QCommandLineOption fault(QStringLiteral("fault"),
                                   QStringLiteral("Misbehave: KIND[=ARGS][@N|@*], KIND one of noreply, delay=MS, "
                                                  "pieces=BYTES,GAPMS, badcrc, status=N, echo, garbage=N, oversized, "
                                                  "datalen=N, ignorewrite, powerlost@N. Repeatable."),
                                   QStringLiteral("FAULT"));
    const QCommandLineOption address(QStringLiteral("address"),
                                     QStringLiteral("Station address (default 291); with --count the first of N."),
                                     QStringLiteral("N"));
    const QCommandLineOption count(QStringLiteral("count"),
                                   QStringLiteral("Run N stations with consecutive addresses, published as "
                                                  "'NAME 1' ... 'NAME N' (default 1)."),
                                   QStringLiteral("N"));
    parser.addOptions({publish, state, system, range, version, band, channels, channel, fault, address, count});
    const int early = parseCommandLine(parser, args, QStringLiteral("Runs a simulated station until interrupted."));
    if (early >= 0) return early;
    if (!parser.positionalArguments().isEmpty())
        return usageError(parser, QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first()));

    // An empty name would run the station unlisted, while the user waits for it in the port list.
    if (parser.isSet(publish) && parser.value(publish).isEmpty())
        return usageError(parser, QStringLiteral("--publish takes a name; leave it out to run an unlisted station"));
    sim::DefaultStationOptions options;
    int value = 0;
    const struct {
        const QCommandLineOption& option;
        int max;
        std::uint8_t* target;
    } bytes[] = {{system, 255, &options.system},   {range, 255, &options.rangeCode},
                 {version, 255, &options.version}, {band, 255, &options.bandType},
                 {channels, 8, &options.channelCount}};
    for (const auto& byte : bytes) {
        value = *byte.target;
        if (!parseByte(parser, byte.option, 0, byte.max, &value))
            return usageError(parser, QStringLiteral("--%1 takes 0 to %2").arg(byte.option.names().first()).arg(byte.max));
        *byte.target = static_cast<std::uint8_t>(value);
    }
    value = options.channel0;
    if (!parseByte(parser, channel, 0, 65535, &value)) return usageError(parser, QStringLiteral("--channel takes 0 to 65535"));
    options.channel0 = static_cast<std::uint16_t>(value);
    int stations = 1;
    if (!parseByte(parser, count, 1, kMaxStations, &stations))
        return usageError(parser, QStringLiteral("--count takes 1 to %1").arg(kMaxStations));
    value = options.address;
    if (!parseByte(parser, address, 0, 65536 - stations, &value))
        return usageError(parser, QStringLiteral("--address takes 0 to %1").arg(65536 - stations));
    options.address = static_cast<std::uint16_t>(value);
    if (stations > 1 && parser.isSet(state))
        return usageError(parser, QStringLiteral("--state keeps one station; leave it out with --count"));

    sim::FaultScript faults;
    for (const QString& option : parser.values(fault)) {
        QString error;
        if (!applyFaultOption(option, faults, &error)) return usageError(parser, error);
    }

    sim::StationModel model = sim::makeDefaultStation(options);
    const std::string statePath = parser.value(state).toStdString();
    if (!statePath.empty() && QFileInfo::exists(parser.value(state)) && !sim::loadStationState(model, statePath)) {
        printErr(QStringLiteral("rechannel-cli: %1 is not a simulated station's state").arg(parser.value(state)));
        return exit_status::usage;
    }

    // Block the stop signals before any thread starts, so only sigwait below
    // receives them and the link is always removed.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    // Every station of a hub rehearsal gets its own address, so the ledger
    // and the fleet summary can tell them apart.
    std::vector<std::unique_ptr<sim::PtyStationHost>> hosts;
    std::vector<std::pair<std::string, std::string>> published;   // name, the pty it points at
    const std::string prefix = parser.value(publish).toStdString();
    int status = 0;
    for (int i = 0; i < stations; ++i) {
        sim::StationModel station = model;
        // A loaded state keeps its own address; only the default one counts up.
        if (statePath.empty()) station.setRom16(paramAddress(kAddressOffset), static_cast<std::uint16_t>(options.address + i));
        auto host = std::make_unique<sim::PtyStationHost>(std::move(station));
        host->setFaults(faults);
        if (!statePath.empty())
            host->setOnWrite([statePath](const sim::StationModel& written) { sim::saveStationState(written, statePath); });
        if (!host->start()) {
            printErr(QStringLiteral("rechannel-cli: could not create a pseudo-terminal"));
            status = exit_status::otherFailure;
            break;
        }
        // With --count, always numbered: "PREFIX 1" even for one station.
        const std::string name = prefix.empty() || !parser.isSet(count) ? prefix : prefix + " " + std::to_string(i + 1);
        if (!name.empty()) {
            status = publishStation(name, host->slavePath());
            if (status != 0) break;
            published.emplace_back(name, host->slavePath());
        }
        printOut(QString::fromStdString(host->slavePath()));
        hosts.push_back(std::move(host));
    }

    if (status == 0) {
        int received = 0;
        sigwait(&stopSignals, &received);
    }
    // The links go while the ptys are still ours: a pty freed first could be
    // handed to another simulator publishing under the same name.
    for (const auto& [name, target] : published) unpublishVirtualPort(name, target);
    for (auto& host : hosts) host->stop();
    return status;
}
