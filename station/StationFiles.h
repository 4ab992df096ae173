#pragma once
// Station XML files and daily report files in the log directory.
#include <QString>

void loadStationFile(const QString& path);
void writeStatusFile();
void writeRouteTableFile();
void writeParamsFile();
void appendReportLine(const QString& line, const QString& header);
