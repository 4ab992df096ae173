#include "FleetWords.h"

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

