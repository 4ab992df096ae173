#include "StationSession.h"

#include "CliOutput.h"
#include "Commands.h"
#include "JobMessages.h"
#include "Outcome.h"
#include "PortArgument.h"
#include "PortOpenDiagnosis.h"
#include "StationConnection.h"

bool openStationPort(StationConnection& connection, const std::wstring& devicePath) {
    if (connection.open(devicePath)) return true;
    printErr(explainPortOpenFailure(devicePath));
    printErr(QStringLiteral("%1 (%2)").arg(job_messages::portNotOpened()).arg(job_messages::kCodePortNotOpened));
    return false;
}

// A port that failed under the command is said as such, never as a silent
// station.
QString noAnswerLine(int code) {
    if (code == link_codes::kPortLost)
        return QStringLiteral("%1 (%2)").arg(job_messages::portLost()).arg(job_messages::kCodePortLost);
    return QStringLiteral("%1 (%2)").arg(job_messages::noAnswer()).arg(code);
}

bool requirePort(const QCommandLineParser& parser, const QCommandLineOption& port, std::wstring* path, int* status) {
    if (!parser.isSet(port) || parser.value(port).isEmpty()) {
        *status = usageError(parser, QStringLiteral("--port PATH is required"));
        return false;
    }
    NamedPort named;
    const int resolved = resolvePortArgument(parser.value(port), &named);
    if (resolved >= 0) {
        *status = resolved;
        return false;
    }
    *path = named.devicePath;
    return true;
}
