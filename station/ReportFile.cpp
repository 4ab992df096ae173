// Daily report files: one CSV file per station and day in the log directory.
#include <QDate>
#include <QFile>

#include "FileProblems.h"
#include "LogDirectory.h"
#include "StationFiles.h"
#include "StationRecord.h"

QString reportFilePath(const QDate& day) {
    const StationRecord* record = StationRecord::instance();
    const int address = record ? record->address() : 0;
    const int system = record ? record->system() : 0;
    return logDirectoryPath() + QLatin1Char('/') + day.toString(QStringLiteral("yyMMdd")) + QLatin1Char('_') +
           QString::number(address) + QLatin1Char('[') + QString::number(system) + QStringLiteral("].log");
}

void appendReportLine(const QString& line, const QString& header) {
    const QString path = reportFilePath(QDate::currentDate());
    if (!regularFileOrNothingAt(path)) return;
    QFile file(path);
    // A file that cannot be read does not exist yet: it starts with the header.
    const bool isNew = !file.open(QIODevice::ReadOnly);
    file.close();
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) return;
    QByteArray bytes;
    if (isNew) bytes += header.toLocal8Bit() + "\r\n";
    bytes += line.toLocal8Bit() + "\r\n";
    file.write(bytes);
}
