#pragma once
// The result of one job run as the CLI reports it.
#include <QString>

namespace exit_status {
constexpr int moved = 0;
constexpr int alreadyMoved = 1;
constexpr int usage = 2;
constexpr int foreignSystem = 3;
constexpr int portNotOpened = 4;
constexpr int noProperAnswer = 5;
constexpr int otherFailure = 6;      // also: the backup could not be saved, nothing written
constexpr int verifyFailed = 7;      // read back differently; the system code was not (or not kept) written
constexpr int interrupted = 130;     // SIGINT/SIGTERM before the first write; nothing written
}

struct JobOutcome {
    bool moved = false;     // onReadStationParam arrived
    bool hasError = false;  // onErr arrived
    QString text;
    int code = 0;

    // The last line on standard error: the text as the window shows it, and
    // for onErr outcomes the code in parentheses.
    QString outcomeLine() const;
    int exitStatus() const;
};

// The two lines just before the outcome line of every run that reached the
// station: "station address: N" and "backup: PATH" or "backup: no backup".
QStringList stationLines(int stationAddress, const QString& backupPath);
