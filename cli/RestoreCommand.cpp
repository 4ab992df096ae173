// restore: puts back, from a backup the job saved, the three regions that
// moving a station rewrites, then restarts the station.
#include <QFile>

#include "ChangedRegions.h"
#include "CliOutput.h"
#include "Commands.h"
#include "Outcome.h"
#include "StationBackup.h"
#include "StationConnection.h"
#include "StationRestore.h"
#include "StationSession.h"

namespace {
constexpr int kRestoreReadAttempts = 2;
}

int runRestore(const QStringList& args) {
    QCommandLineParser parser;
    const QCommandLineOption port(QStringLiteral("port"), QStringLiteral("Serial device of the station."),
                                  QStringLiteral("PATH"));
    parser.addOption(port);
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("A 256-byte backup from QuelvintLog/backups."));
    const int early = parseCommandLine(parser, args, QStringLiteral("Writes a backup's channel settings back."));
    if (early >= 0) return early;
    std::wstring devicePath;
    int status = 0;
    if (!requirePort(parser, port, &devicePath, &status)) return status;
    if (parser.positionalArguments().size() != 1) return usageError(parser, QStringLiteral("give exactly one backup FILE"));

    const QString fileName = parser.positionalArguments().first();
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        printErr(QStringLiteral("rechannel-cli: cannot read %1").arg(fileName));
        return exit_status::usage;
    }
    // Read one byte more than a block so a longer file is caught too.
    const QByteArray block = file.read(kParamBlockSize + 1);
    if (block.size() != kParamBlockSize) {
        printErr(QStringLiteral("rechannel-cli: %1 is not a station backup (%2 bytes, expected %3)")
                     .arg(fileName)
                     .arg(file.size())
                     .arg(kParamBlockSize));
        return exit_status::usage;
    }

    const auto* saved = reinterpret_cast<const std::uint8_t*>(block.constData());
    StationConnection connection;
    if (!openStationPort(connection, devicePath)) return exit_status::portNotOpened;
    try {
        // Another station's channel settings must not land on this one.
        std::uint8_t head[16] = {};
        connection.readRom16(kParamBlockAddress, sizeof head, head, kRestoreReadAttempts);
        const int stationAddress = blockAddress(head);
        const int backupAddress = blockAddress(saved);
        if (stationAddress != backupAddress) {
            connection.close();
            printErr(QStringLiteral("rechannel-cli: %1 is the backup of station %2, but the station on the port is %3; "
                                    "nothing written")
                         .arg(fileName)
                         .arg(backupAddress)
                         .arg(stationAddress));
            return exit_status::usage;
        }
        restoreStation(connection, saved);
    } catch (int code) {
        connection.close();
        printErr(noAnswerLine(code));
        return exit_status::noProperAnswer;
    }
    connection.close();
    printErr(QStringLiteral("restored channel table, channel block 0 and system code %1 from %2; station restarted")
                 .arg(static_cast<std::uint8_t>(block[kSystemCodeRegion.offset()]))
                 .arg(fileName));
    return exit_status::moved;
}
