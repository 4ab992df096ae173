#include "ReportInput.h"

#include "RegularFile.h"

bool openReportInput(QFile& file, const QString& path, QStringList* problems) {
    QString why;
    const RegularFileOpen opened = openRegularFile(file, path, RegularFileMode::Read, &why);
    if (opened == RegularFileOpen::Opened) return true;
    problems->append(opened == RegularFileOpen::Missing ? QStringLiteral("%1: no such file").arg(path)
                                                        : QStringLiteral("%1: cannot be read (%2)").arg(path, why));
    return false;
}
