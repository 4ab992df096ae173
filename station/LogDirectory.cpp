#include "LogDirectory.h"

#include <QDir>

QString logDirectoryPath() { return QDir::homePath() + QStringLiteral("/QuelvintLog"); }

void ensureLogDirectory() {
    QDir home(QDir::homePath());
    if (!home.exists(QStringLiteral("QuelvintLog"))) home.mkdir(QStringLiteral("QuelvintLog"));
}
