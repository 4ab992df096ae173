#include <QDir>

#include "LogDirectory.h"

// Qt reads HOME and answers the root directory when it is unset or empty.
QString homeDirectory() {
    const QString home = QDir::homePath();
    return home == QDir::rootPath() ? QString() : home;
}

QString homeVariable() { return QStringLiteral("HOME"); }
