#pragma once
// The commands of rechannel-cli; each takes its own arguments (the command
// name first) and returns the process exit status.
#include <QCommandLineParser>
#include <QStringList>

int runPorts(const QStringList& args);
int runProgram(const QStringList& args);
int runRestore(const QStringList& args);
int runStatus(const QStringList& args);
int runRoutes(const QStringList& args);
int runSniff(const QStringList& args);
int runSimulate(const QStringList& args);
int runLedger(const QStringList& args);
int runReport(const QStringList& args);

// Parses a command's arguments. Returns -1 to go on, otherwise the exit
// status to return at once (0 after --help, 2 for a usage error).
int parseCommandLine(QCommandLineParser& parser, const QStringList& args, const QString& description);
int usageError(const QCommandLineParser& parser, const QString& message);
