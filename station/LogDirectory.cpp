#include "LogDirectory.h"

#include <QDir>

QString logDirectoryPath() { return QDir::homePath() + QStringLiteral("/QuelvintLog"); }

bool homeDirectoryKnown() { return QDir::homePath() != QDir::rootPath(); }

void ensureLogDirectory() {
    if (!homeDirectoryKnown()) return;
    QDir home(QDir::homePath());
    if (!home.exists(QStringLiteral("QuelvintLog"))) home.mkdir(QStringLiteral("QuelvintLog"));
}
