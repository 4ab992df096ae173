#include "MigrationReport.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <algorithm>

#include "Ledger.h"
#include "LedgerMerge.h"

int MigrationReport::countState(StationState state) const {
    return int(std::count_if(stations.begin(), stations.end(), [state](const ReportStation& s) { return s.state() == state; }));
}

int MigrationReport::countLast(RunOutcome outcome) const {
    return int(std::count_if(stations.begin(), stations.end(),
                             [outcome](const ReportStation& s) { return s.last.outcome == outcome; }));
}

namespace {

struct OutcomeWords {
    RunOutcome outcome;
    const char* label;
    const char* advice;
};

// In kRunOutcomes order (outcomeIndex).
constexpr OutcomeWords kWords[] = {
    {RunOutcome::Moved, "переведена", "Готово"},
    {RunOutcome::AlreadyMoved, "уже переведена", "Готово"},
    {RunOutcome::Restored, "восстановлена", "На старой системе по резервной копии; перевести, когда сеть будет готова"},
    {RunOutcome::OtherSystem, "другая система", "Станция другой системы: уточнить, относится ли она к этой сети"},
    {RunOutcome::Unsupported, "не поддерживается", "Настройка станции не поддерживается: передать инженеру"},
    {RunOutcome::NoPort, "порт не открыт", "Проверить адаптер и порт, запрограммировать ещё раз"},
    {RunOutcome::NoAnswer, "нет ответа", "Проверить кабель и питание станции, запрограммировать ещё раз"},
    {RunOutcome::PortLost, "связь с портом потеряна", "Проверить адаптер, запрограммировать ещё раз"},
    {RunOutcome::PartlyWritten, "записана не полностью", "Не отключать станцию, запрограммировать ещё раз"},
    {RunOutcome::VerifyFailed, "проверка не прошла", "Станция осталась в прежней системе: запрограммировать ещё раз"},
    {RunOutcome::Interrupted, "прервано", "Станция не изменена: запрограммировать ещё раз"},
    {RunOutcome::Failed, "ошибка", "Посмотреть трассу запуска, запрограммировать ещё раз"},
};
static_assert(rowPerOutcome(kWords), "words for every outcome, in their order");

// The inputs as files: a folder stands for every *.csv in it, by name.
QStringList ledgerFiles(const QStringList& inputs, QStringList* problems, bool* allRead) {
    if (inputs.isEmpty()) {
        // The user's own ledger; none yet is an empty report.
        return QFileInfo::exists(ledger::path()) ? QStringList{ledger::path()} : QStringList();
    }
    QStringList files;
    for (const QString& input : inputs) {
        if (!QFileInfo(input).isDir()) {
            files.append(input);
            continue;
        }
        const QDir folder(input);
        // Name filters match regardless of case: LEDGER.CSV too.
        const QStringList any = folder.entryList({QStringLiteral("*.csv")}, QDir::Files, QDir::Name);
        if (any.isEmpty()) {
            problems->append(QStringLiteral("%1: a folder without ledgers (*.csv); skipped").arg(input));
            *allRead = false;
        }
        for (const QString& name : any) files.append(folder.filePath(name));
    }
    return files;
}

}  // namespace

// Converted once: the page names an outcome in every row.
std::array<QString, kOutcomeCount> wordTexts(const char* OutcomeWords::*text) {
    std::array<QString, kOutcomeCount> texts;
    for (size_t i = 0; i < texts.size(); ++i) texts[i] = QString::fromUtf8(kWords[i].*text);
    return texts;
}

QString outcomeLabel(RunOutcome outcome) {
    static const std::array<QString, kOutcomeCount> labels = wordTexts(&OutcomeWords::label);
    return labels[size_t(outcomeIndex(outcome))];
}

QString outcomeAdvice(RunOutcome outcome) {
    static const std::array<QString, kOutcomeCount> advice = wordTexts(&OutcomeWords::advice);
    return advice[size_t(outcomeIndex(outcome))];
}

Result<QString> writeReportFile(const QString& path, const QByteArray& bytes) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return failure(file.errorString());
    if (file.write(bytes) != bytes.size()) {
        const QString why = file.errorString();
        file.cancelWriting();
        return failure(why);
    }
    if (!file.commit()) return failure(file.errorString());
    return {};
}

ReportResult makeReport(const ReportRequest& request) {
    ReportResult result;
    LedgerMerge merge(request.since, request.until);
    QStringList ledgers;   // canonical paths: a report never replaces a ledger it read
    for (const QString& file : ledgerFiles(request.inputs, &result.problems, &result.allInputsRead)) {
        if (!merge.readFile(file, &result.problems)) result.allInputsRead = false;
        ledgers << QFileInfo(file).canonicalFilePath();
    }
    if (!request.planFile.isEmpty()) ledgers << QFileInfo(request.planFile).canonicalFilePath();
    ledgers.removeAll(QString());   // a file not there: no path, and no output is it
    result.report = merge.finish();
    result.report.made = QDateTime::currentDateTime();
    if (!request.planFile.isEmpty()) {
        // A plan that is no plan is left out whole, like a file that is no ledger.
        if (!readStationPlan(request.planFile, &result.report.plan, &result.problems)) result.allInputsRead = false;
    }
    result.report.mesh = splitMesh(result.report.stations, result.report.plan);

    const std::pair<QString, QByteArray (*)(const MigrationReport&)> outputs[] = {{request.htmlFile, reportHtml},
                                                                                 {request.csvFile, reportCsv}};
    QStringList written;   // where the page went: the CSV must not replace it
    for (const auto& [path, writer] : outputs) {
        if (path.isEmpty()) continue;
        if (ledgers.contains(QFileInfo(path).canonicalFilePath())) {
            result.problems.append(QStringLiteral("%1: is a ledger or the plan read for this report; not overwritten").arg(path));
            result.filesWritten = false;
            continue;
        }
        const QString canonical = QFileInfo(path).canonicalFilePath();
        const QString target = canonical.isEmpty() ? QDir::cleanPath(QFileInfo(path).absoluteFilePath()) : canonical;
        if (written.contains(target)) {
            result.problems.append(QStringLiteral("%1: the HTML page was written there; give the CSV a file of its own").arg(path));
            result.filesWritten = false;
            continue;
        }
        written << target;
        if (const Result<QString> saved = writeReportFile(path, writer(result.report)); !saved) {
            result.problems.append(
                QStringLiteral("%1: not written (%2); a file already there is as it was").arg(path, saved.why()));
            result.filesWritten = false;
        }
        written << QFileInfo(path).canonicalFilePath();   // its folder may be reached through a link
    }
    return result;
}
