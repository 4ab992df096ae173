#include "FileProblems.h"

#include <QFileInfo>

namespace {
FileProblemSink& sink() {
    static FileProblemSink instance;
    return instance;
}
}  // namespace

void setFileProblemSink(FileProblemSink s) { sink() = std::move(s); }

void reportFileProblem(const QString& message) {
    if (sink()) sink()(message);
}

bool regularFileOrNothingAt(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists() || info.isFile()) return true;
    const QString kind = info.isDir() ? QStringLiteral("a directory") : QStringLiteral("a FIFO or device");
    reportFileProblem(QStringLiteral("%1 is %2, not a regular file: left alone").arg(path, kind));
    return false;
}
