#include <QCoreApplication>

#include "CliOutput.h"
#include "Commands.h"
#include "Outcome.h"

int parseCommandLine(QCommandLineParser& parser, const QStringList& args, const QString& description) {
    QCoreApplication::setApplicationName(QStringLiteral("rechannel-cli %1").arg(args.value(0)));
    parser.setApplicationDescription(description);
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help."));
    parser.addOption(help);
    if (!parser.parse(args)) return usageError(parser, parser.errorText());
    if (parser.isSet(help)) {
        printOut(parser.helpText());
        return 0;
    }
    return -1;
}

int usageError(const QCommandLineParser& parser, const QString& message) {
    printErr(QStringLiteral("rechannel-cli: %1").arg(message));
    printErr(parser.helpText());
    return exit_status::usage;
}
