#pragma once
// The result of one run as the CLI reports it: its lines on standard error
// and, through ExitStatus.h, the exit status of its outcome.
#include <QString>
#include <QStringList>
#include <cstdint>

#include "ExitStatus.h"
#include "RunResult.h"

// The last line on standard error: the text as the window shows it, and for
// the job's failures the code in parentheses.
QString outcomeLine(const RunResult& result);

// The outcome line of a run that broke off between its first write and the
// restart; `command` is the one that completes it when run again.
QString partlyWrittenLine(const QString& command, int code);
// The line before the outcome line of a run whose system-code write got no
// acknowledgement while 0xC004 read back `systemCode`, the value written.
QString systemCodeAckLostNote(std::uint8_t systemCode);
// The line that says the backup could not also be kept as the station's
// original, and which backup puts the station back instead.
QString originalNotKeptLine(const QString& why, const QString& backupPath);

// The two lines just before the outcome line of every run that reached the
// station: "station address: N" and "backup: PATH" or "backup: no backup".
QStringList stationLines(int stationAddress, const QString& backupPath);
