#pragma once
// The result of one job run as the CLI reports it.
#include <QString>
#include <cstdint>

#include "RunOutcome.h"
#include "WorkThread.h"

struct JobOutcome {
    bool moved = false;     // onReadStationParam arrived
    bool hasError = false;  // onErr arrived
    QString text;
    int code = 0;
    VerifyResult verify = VerifyResult::NotRun;   // the run's read-back check

    // The last line on standard error: the text as the window shows it, and
    // for onErr outcomes the code in parentheses.
    QString outcomeLine() const;
    // The exit status of the run's outcome (kRunOutcomes): the same outcome
    // as its ledger line.
    int exitStatus() const;
};

// The outcome line of a run that broke off between its first write and the
// restart; `command` is the one that completes it when run again.
QString partlyWrittenLine(const QString& command, int code);
// The line before the outcome line of a run whose system-code write got no
// acknowledgement while 0xC004 read back `systemCode`, the value written.
QString systemCodeAckLostNote(std::uint8_t systemCode);

// The two lines just before the outcome line of every run that reached the
// station: "station address: N" and "backup: PATH" or "backup: no backup".
QStringList stationLines(int stationAddress, const QString& backupPath);
