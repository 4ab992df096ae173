#include "SnifferMark.h"

#include <QFile>
#include <QSaveFile>

#include "FileProblems.h"
#include "RegularFile.h"

namespace {

const QByteArray kKey = "last_packet=";
// A mark is one short line; anything longer is no mark of ours.
constexpr qint64 kMaxBytes = 64;

}  // namespace

QString snifferMarkPath(const QString& stationFile) {
    QString stem = stationFile;
    if (stem.endsWith(QLatin1String(".xml"), Qt::CaseInsensitive)) stem.chop(4);
    return stem + QStringLiteral(".sniff");
}

std::optional<int> loadSnifferMark(const QString& stationFile) {
    const QString path = snifferMarkPath(stationFile);
    QFile file;
    QString why;
    switch (openRegularFile(file, path, RegularFileMode::Read, &why)) {
    case RegularFileOpen::Opened:
        break;
    case RegularFileOpen::Missing:
        return std::nullopt;
    case RegularFileOpen::NotRegular:
    case RegularFileOpen::Failed:
        reportFileProblem(QStringLiteral("%1 is not read (%2); the sniffer starts where the ring stands").arg(path, why));
        return std::nullopt;
    }
    const QByteArray text = file.read(kMaxBytes + 1).trimmed();
    bool ok = false;
    const int sequence = text.startsWith(kKey) && text.size() <= kMaxBytes ? text.mid(kKey.size()).toInt(&ok) : -1;
    if (!ok || sequence < 0 || sequence > 255) {
        reportFileProblem(QStringLiteral("%1 holds no packet number; the sniffer starts where the ring stands").arg(path));
        return std::nullopt;
    }
    return sequence;
}

bool saveSnifferMark(const QString& stationFile, int sequence) {
    const QString path = snifferMarkPath(stationFile);
    if (!regularFileOrNothingAt(path)) return false;
    QSaveFile file(path);
    const QByteArray text = kKey + QByteArray::number(sequence & 0xFF) + '\n';
    if (file.open(QIODevice::WriteOnly) && file.write(text) == text.size() && file.commit()) return true;
    reportFileProblem(QStringLiteral("%1 could not be written (%2): the next session may count the last packet again")
                          .arg(path, file.errorString()));
    return false;
}
