#pragma once
// How a programming or restore run ended, named once for every part that
// reports it: the ledger's outcome name and the text the window shows for it
// side by side, so the job, the ledger, the fleet and the summary cannot
// disagree. rechannel-cli's exit statuses are its own (ExitStatus.h).
#include <QByteArray>
#include <QString>
#include <cstddef>
#include <optional>

enum class RunOutcome {
    Moved,
    AlreadyMoved,
    Restored,
    OtherSystem,
    Unsupported,
    NoPort,
    NoAnswer,
    PortLost,
    PartlyWritten,
    VerifyFailed,
    Interrupted,
    Failed
};

struct RunOutcomeRow {
    RunOutcome outcome;
    const char* name;      // in the ledger and the fleet's report lines
    const char* message;   // UTF-8, as the station service words it; empty when the window never ends so
};

// Every outcome, in the order the ledger summary counts them; "failed" stays
// last (runOutcomeRow falls back on it).
inline constexpr RunOutcomeRow kRunOutcomes[] = {
    {RunOutcome::Moved, "moved", "Станция переведена на новую частоту!"},
    {RunOutcome::AlreadyMoved, "already-moved", "Станция уже переведена на нужную частоту!"},
    // A restore that put a backup back; the station is on its old settings again.
    {RunOutcome::Restored, "restored", ""},
    {RunOutcome::OtherSystem, "other-system", "Утилита не предназначена для данной системы!"},
    // The station service has no word of its own for a station its plan
    // does not cover: it says no answer.
    {RunOutcome::Unsupported, "unsupported", "Нет ответа от Станции."},
    {RunOutcome::NoPort, "no-port", "Невозможно открыть COM-порт."},
    {RunOutcome::NoAnswer, "no-answer", "Нет ответа от Станции."},
    // The port itself failed before the first write (the adapter was pulled,
    // the driver reported an error): nothing was written.
    {RunOutcome::PortLost, "port-lost",
     "Связь с COM-портом потеряна: адаптер отключён или неисправен. Станция не изменена. "
     "Проверьте подключение и запрограммируйте её ещё раз."},
    // The link broke off between the first write and the restart.
    {RunOutcome::PartlyWritten, "partly-written",
     "Станция записана не полностью: связь прервалась во время записи. "
     "Не отключайте её и запрограммируйте ещё раз."},
    // The channel table or block 0 read back differently: the system code was
    // not written, so the station still runs and reads as before.
    {RunOutcome::VerifyFailed, "verify-failed",
     "Станция не сохранила новые параметры и осталась в прежней системе. Запрограммируйте её ещё раз."},
    // Stopped before the first write (the window closed, an interrupt).
    {RunOutcome::Interrupted, "interrupted", "Программирование прервано: станция не изменена."},
    {RunOutcome::Failed, "failed", "Неизветная ошибка"},
};

inline constexpr int kOutcomeCount = int(sizeof kRunOutcomes / sizeof kRunOutcomes[0]);

// Where `outcome` stands in kRunOutcomes: the index of every table that has a
// column per outcome (counts by day, colours, words). The table follows the
// enumeration, so the index is the enumerator's value.
constexpr int outcomeIndex(RunOutcome outcome) {
    const int index = static_cast<int>(outcome);
    return index >= 0 && index < kOutcomeCount ? index : kOutcomeCount - 1;
}

constexpr bool rowsFollowTheEnumeration() {
    for (int i = 0; i < kOutcomeCount; ++i)
        if (static_cast<int>(kRunOutcomes[i].outcome) != i) return false;
    return true;
}
static_assert(rowsFollowTheEnumeration(), "kRunOutcomes lists the outcomes in their enumeration's order");

constexpr const RunOutcomeRow& runOutcomeRow(RunOutcome outcome) { return kRunOutcomes[outcomeIndex(outcome)]; }

// For a table that other parts keep per outcome (words, colours), each row
// naming its `outcome`: true when it has a row for every outcome, in
// kRunOutcomes order, so outcomeIndex finds each outcome's own row.
// static_assert it beside the table.
template <class Row, std::size_t N>
constexpr bool rowPerOutcome(const Row (&table)[N]) {
    if (static_cast<int>(N) != kOutcomeCount) return false;
    for (std::size_t i = 0; i < N; ++i)
        if (table[i].outcome != kRunOutcomes[i].outcome) return false;
    return true;
}

inline QString outcomeName(RunOutcome outcome) { return QLatin1String(runOutcomeRow(outcome).name); }
inline QString outcomeMessage(RunOutcome outcome) { return QString::fromUtf8(runOutcomeRow(outcome).message); }

// The outcome a ledger or report line names; empty for a name no outcome has.
inline std::optional<RunOutcome> outcomeNamed(const QByteArray& name) {
    for (const RunOutcomeRow& row : kRunOutcomes)
        if (name == row.name) return row.outcome;
    return std::nullopt;
}
inline std::optional<RunOutcome> outcomeNamed(const QString& name) { return outcomeNamed(name.toUtf8()); }

// A station needs no more visits once it is on the new channel.
constexpr bool outcomeIsDone(RunOutcome outcome) {
    return outcome == RunOutcome::Moved || outcome == RunOutcome::AlreadyMoved;
}

// Where a station stands after its last run: on the new system; on the old
// one on purpose (a backup was put back); or waiting for another visit
// (partly written, not verified, another system, no answer, interrupted,
// failed). The ledger summary, the report, the fleet window's rows and its
// day's record all tell a station's state by this.
enum class StationState { Moved, NotMoved, NeedsAttention };

constexpr StationState stateAfter(RunOutcome outcome) {
    if (outcomeIsDone(outcome)) return StationState::Moved;
    if (outcome == RunOutcome::Restored) return StationState::NotMoved;
    return StationState::NeedsAttention;
}

constexpr bool needsAttention(RunOutcome outcome) { return stateAfter(outcome) == StationState::NeedsAttention; }

// The state as the report's CSV and the ledger's readers name it.
constexpr const char* stateName(StationState state) {
    switch (state) {
    case StationState::Moved: return "moved";
    case StationState::NotMoved: return "not-moved";
    case StationState::NeedsAttention: break;
    }
    return "needs-attention";
}
