// simulate: a simulated station on a pseudo-terminal until interrupted, for
// trying the window or the CLI without hardware.
#include <QFileInfo>
#include <csignal>
#include <pthread.h>

#include "CliOutput.h"
#include "Commands.h"
#include "FaultOption.h"
#include "Outcome.h"
#include "PtyStationHost.h"
#include "VirtualPorts.h"

namespace {

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
    parser.addOptions({publish, state, system, range, version, band, channels, channel, fault});
    const int early = parseCommandLine(parser, args, QStringLiteral("Runs a simulated station until interrupted."));
    if (early >= 0) return early;
    if (!parser.positionalArguments().isEmpty())
        return usageError(parser, QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first()));

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

    sim::PtyStationHost host(std::move(model));
    host.setFaults(faults);
    if (!statePath.empty())
        host.setOnWrite([statePath](const sim::StationModel& written) { sim::saveStationState(written, statePath); });
    if (!host.start()) {
        printErr(QStringLiteral("rechannel-cli: could not create a pseudo-terminal"));
        return exit_status::otherFailure;
    }
    const std::string name = parser.value(publish).toStdString();
    if (!name.empty() && !publishVirtualPort(name, host.slavePath())) {
        printErr(QStringLiteral("rechannel-cli: could not publish '%1' in %2")
                     .arg(parser.value(publish), QString::fromStdString(virtualPortDirectory())));
        return exit_status::otherFailure;
    }
    printOut(QString::fromStdString(host.slavePath()));

    int received = 0;
    sigwait(&stopSignals, &received);

    host.stop();
    if (!name.empty()) unpublishVirtualPort(name);
    return 0;
}
