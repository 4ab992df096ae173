#include "FleetWords.h"

#include <QDir>
#include <iterator>

namespace {

// After an unverified write the station stays attached and is not taken
// again by itself: a fresh check of its port programs it once more.
const char kAgain[] = " Не отключайте её: снимите и снова поставьте отметку порта — она будет запрограммирована ещё раз.";
// A partly written station still attached is programmed again by itself, a
// few times at most.
const char kAgainByItself[] =
    " Не отключайте её: она программируется ещё раз. Если запись так и не пройдёт, снимите и снова поставьте "
    "отметку порта.";

struct Phrase {
    RunOutcome outcome;
    const char* text;
    const char* again;   // what to do, after the outcome's words; nullptr: nothing
};
constexpr Phrase kPhrases[] = {
    {RunOutcome::Moved, "Переведена на новую частоту", nullptr},
    {RunOutcome::AlreadyMoved, "Уже переведена", nullptr},
    {RunOutcome::Restored, "Возвращена к прежним параметрам", nullptr},
    {RunOutcome::OtherSystem, "Станция другой системы: программа её не меняет. Отключите её.", nullptr},
    {RunOutcome::Unsupported, "Частотный план станции не поддерживается: станция не изменена. Отключите её.", nullptr},
    {RunOutcome::NoPort, "Порт не открывается: проверьте адаптер и закройте программы, которые его заняли.", nullptr},
    {RunOutcome::NoAnswer, "Нет ответа от станции: проверьте кабель и питание; станция не изменена.", nullptr},
    {RunOutcome::PortLost, "Связь с портом потеряна до записи: станция не изменена. Проверьте адаптер.", nullptr},
    {RunOutcome::PartlyWritten, "Записана не полностью: связь прервалась во время записи.", kAgainByItself},
    {RunOutcome::VerifyFailed, "Не сохранила новые параметры и осталась в прежней системе.", kAgain},
    {RunOutcome::Interrupted, "Остановлено до записи: станция не изменена.", nullptr},
    {RunOutcome::Failed, "Неизвестная ошибка: запись обмена — в журнале дня (двойной щелчок или Enter).", nullptr},
};
static_assert(std::size(kPhrases) == std::size(kRunOutcomes), "words for every outcome, in their order");

QString phaseWords(JobPhase phase) {
    switch (phase) {
    case JobPhase::Opening: return QStringLiteral("открытие порта");
    case JobPhase::Reading: return QStringLiteral("чтение");
    case JobPhase::Writing: return QStringLiteral("запись");
    case JobPhase::Verifying: return QStringLiteral("проверка");
    case JobPhase::Restarting: return QStringLiteral("перезапуск");
    case JobPhase::Done: break;
    }
    return QStringLiteral("завершение");
}

// A lower layer's own words, as the detail of a sentence.
QString detail(const QString& why) {
    return why.isEmpty() ? QString() : QStringLiteral(" (сообщение системы: «%1»)").arg(why);
}

QString native(const QString& path) { return QDir::toNativeSeparators(path); }

// Where a run's trace is opened from.
const char kTraceHint[] = "строка запуска в журнале дня: Enter или двойной щелчок";

}  // namespace

OutcomeWords outcomeWords(RunOutcome outcome, bool noStation) {
    if (noStation) return {QStringLiteral("Станции нет: порт молчит"), false};
    const Phrase& phrase = kPhrases[outcomeIndex(outcome)];
    QString text = QString::fromUtf8(phrase.text);
    if (phrase.again) text += QString::fromUtf8(phrase.again);
    return {text, needsAttention(outcome)};
}

QString activityWords(const PortActivity& activity) {
    using State = PortActivity::State;
    switch (activity.state) {
    case State::WaitingForPort: return QStringLiteral("ожидание порта");
    case State::WaitingForStation: return QStringLiteral("ожидание станции");
    case State::Running: return phaseWords(activity.phase);
    case State::Ended: return QString();
    case State::WaitingForLeave: break;
    }
    return QStringLiteral("готово; ожидание следующей станции");
}

QString runNote(const QString& program, const PortRunRecord& run) {
    // A child that reported nothing wrote no ledger line either.
    if (!run.ledger)
        return QStringLiteral("Программа %1 не запустилась или не сообщила итог запуска: переустановите пакет. "
                              "Подробности — в записи обмена %2 (%3).")
            .arg(native(program), native(run.trace), QString::fromUtf8(kTraceHint));
    return QStringLiteral("Запись обмена: %1 (%2).").arg(native(run.trace), QString::fromUtf8(kTraceHint));
}

QString childSaidWords(const QString& port) {
    return QStringLiteral("%1: программа сообщила подробности запуска — они в записи обмена (%2).")
        .arg(port, QString::fromUtf8(kTraceHint));
}

QString problemWords(const QString& port, const FleetProblem& problem) {
    switch (problem.kind) {
    case FleetProblem::Kind::LedgerNotWritten:
        return QStringLiteral("%1: строка запуска не записана в журнал запусков %2%3. Закройте программы, которые "
                              "держат этот файл открытым (например, таблицу).")
            .arg(port, native(problem.file), detail(problem.why));
    case FleetProblem::Kind::TraceIncomplete:
        break;
    }
    return QStringLiteral("%1: в запись обмена %2 не попали последние строки запуска%3. Проверьте, есть ли место "
                          "на диске.")
        .arg(port, native(problem.file), detail(problem.why));
}

QString portListWords(const QString& why) {
    return QStringLiteral("Список портов не получен%1. Программа попробует снова через несколько секунд; если "
                          "ошибка не пройдёт, отключите и снова подключите адаптеры.")
        .arg(detail(why));
}

QString reportWords(const QString& page, const QString& ledger, const ReportResult& result, bool written,
                    bool opened) {
    QStringList lines;
    if (!written) lines << QStringLiteral("Отчёт не составлен: страница %1 не записана.").arg(native(page));
    else if (opened) lines << QStringLiteral("Отчёт записан и открыт: %1").arg(native(page));
    else
        lines << QStringLiteral("Отчёт записан: %1. Открыть его не удалось: откройте этот файл в браузере.")
                     .arg(native(page));
    if (!result.allInputsRead)
        lines << QStringLiteral("Журнал запусков %1 прочитан не весь: в отчёте только то, что удалось прочитать.")
                     .arg(native(ledger));
    else if (written && !result.problems.isEmpty())
        lines << QStringLiteral("Не все строки журнала запусков %1 прочитаны: в отчёте их нет.").arg(native(ledger));
    if (!result.problems.isEmpty()) lines << QStringLiteral("Подробности:") << result.problems;
    return lines.join(QLatin1Char('\n'));
}
