// Daily report files: one CSV file per station and day in the log directory.
#include <QDate>
#include <QFile>

#include "FileProblems.h"
#include "LogDirectory.h"
#include "RegularFile.h"
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
    QFile file;
    QString why;
    switch (openRegularFile(file, path, RegularFileMode::Append, &why)) {
    case RegularFileOpen::Opened: break;
    case RegularFileOpen::NotRegular:
        return reportFileProblem(QStringLiteral("%1 is %2, not a regular file: left alone").arg(path, why));
    case RegularFileOpen::Missing:
    case RegularFileOpen::Failed:
        return reportFileProblem(QStringLiteral("%1 cannot be written (%2): report lines are lost").arg(path, why));
    }
    // A file with nothing in it yet starts with the header.
    QByteArray bytes;
    if (file.size() == 0) bytes += header.toLocal8Bit() + "\r\n";
    bytes += line.toLocal8Bit() + "\r\n";
    if (file.write(bytes) != bytes.size())
        reportFileProblem(QStringLiteral("%1 cannot be written (%2): report lines are lost").arg(path, file.errorString()));
}
