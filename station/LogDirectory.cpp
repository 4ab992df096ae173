#include "LogDirectory.h"

#include <QDir>

QString logDirectoryPath() { return homeDirectory() + QStringLiteral("/QuelvintLog"); }

bool homeDirectoryKnown() { return !homeDirectory().isEmpty(); }

void ensureLogDirectory() {
    if (!homeDirectoryKnown()) return;
    QDir home(homeDirectory());
    if (!home.exists(QStringLiteral("QuelvintLog"))) home.mkdir(QStringLiteral("QuelvintLog"));
}
