#include <QDir>
#include <QtGlobal>

#include "LogDirectory.h"

// %USERPROFILE% (C:\Users\name), where a technician finds the backups and
// the ledger in Explorer. Taken from the environment, as HOME is on POSIX,
// so a run can be pointed elsewhere the same way.
QString homeDirectory() {
    const QString profile = qEnvironmentVariable("USERPROFILE");
    if (profile.isEmpty()) return {};
    return QDir::cleanPath(QDir::fromNativeSeparators(profile));
}

QString homeVariable() { return QStringLiteral("USERPROFILE"); }
