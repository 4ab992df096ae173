#pragma once
// Opening what the report reads — ledgers, the operator's plan — as the
// regular files they must be, saying why not.
#include <QFile>
#include <QString>
#include <QStringList>

// Opens `path` for reading into `file`. False, with the reason in
// `problems`, for a file that is not there or is no regular file it can read.
bool openReportInput(QFile& file, const QString& path, QStringList* problems);
