#include <QCoreApplication>

#include "CliOutput.h"
#include "Commands.h"
#include "Outcome.h"

namespace {

// The parser's usage line names the executable's path; name the command
// instead ("Usage: rechannel-cli program [options]"), as the man page and
// the shell completion read it.
QString commandHelp(const QCommandLineParser& parser) {
    QString text = parser.helpText();
    const QString prefix = QStringLiteral("Usage: ") + QCoreApplication::arguments().value(0);
    if (text.startsWith(prefix))
        text.replace(0, prefix.size(), QStringLiteral("Usage: ") + QCoreApplication::applicationName());
    return text;
}

}  // namespace

int parseCommandLine(QCommandLineParser& parser, const QStringList& args, const QString& description) {
    QCoreApplication::setApplicationName(QStringLiteral("rechannel-cli %1").arg(args.value(0)));
    parser.setApplicationDescription(description);
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help."));
    parser.addOption(help);
    if (!parser.parse(args)) return usageError(parser, parser.errorText());
    if (parser.isSet(help)) {
        printOut(commandHelp(parser));
        return 0;
    }
    return -1;
}

int usageError(const QCommandLineParser& parser, const QString& message) {
    printErr(QStringLiteral("rechannel-cli: %1").arg(message));
    printErr(commandHelp(parser));
    return exit_status::usage;
}
