#pragma once
// Opening a station for the commands that talk to it outside the job.
#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QString>
#include <string>

class StationConnection;

// Opens the port; on failure prints the job's message and why, and returns
// false (the caller exits with the port-not-opened status).
bool openStationPort(StationConnection& connection, const std::wstring& devicePath);

// The message line for a thrown link code, as the job reports it.
QString noAnswerLine(int code);

// --port PATH (or a port name), required.
bool requirePort(const QCommandLineParser& parser, const QCommandLineOption& port, std::wstring* path, int* status);
