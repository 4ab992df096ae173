#pragma once
// Station XML files and daily report files in the log directory.
#include <QDate>
#include <QString>

#include "Result.h"

void loadStationFile(const QString& path);
// As loadStationFile, for a caller that says what went wrong: fails when a
// file is at `path` but does not load (unreadable, no regular file, too
// large, not well-formed), saying what is wrong, to follow the path; the
// record is then unchanged. A missing file is nothing wrong.
Result<QString> loadStationFileChecked(const QString& path);
// The three writers change nothing while AppContext holds the station file.
void writeStatusFile();
void writeRouteTableFile();
void writeParamsFile();
void appendReportLine(const QString& line, const QString& header);

// The station file the writers use: "<log directory>/<stationFileName>".
QString stationFilePath();

// Names the station file after the station in the record ("<address>.xml"
// in the log directory) and, when that file does not exist yet, creates it
// with writeParamsFile. A file that exists is used as it is, even when it
// does not load. Returns the file's path. The diagnostics commands call this
// before they start, so their writers have a file to update.
QString ensureStationFile();

// "<log directory>/<yyMMdd>_<address>[<system>].log" for the station in the
// record.
QString reportFilePath(const QDate& day);
