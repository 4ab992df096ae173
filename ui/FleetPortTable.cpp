#include "FleetPortTable.h"

#include <QBrush>
#include <QColor>
#include <QHeaderView>
#include <algorithm>
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
    {RunOutcome::Failed, "Неизвестная ошибка: запись обмена — в журнале дня (двойной щелчок).", nullptr},
};

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

const QColor kDone(0x1b, 0x7a, 0x2e);
const QColor kAttention(0xb0, 0x1c, 0x1c);

}  // namespace

OutcomeWords outcomeWords(RunOutcome outcome, bool noStation) {
    if (noStation) return {QStringLiteral("Станции нет: порт молчит"), false};
    for (const Phrase& phrase : kPhrases)
        if (phrase.outcome == outcome) {
            QString text = QString::fromUtf8(phrase.text);
            if (phrase.again) text += QString::fromUtf8(phrase.again);
            return {text, needsAttention(outcome)};
        }
    return {QString::fromUtf8(kPhrases[std::size(kPhrases) - 1].text), true};
}

QString activityWords(const PortActivity& activity) {
    using State = PortActivity::State;
    switch (activity.state) {
    case State::WaitingForPort: return QStringLiteral("ожидание порта");
    case State::WaitingForStation: return QStringLiteral("ожидание станции");
    case State::Running: return phaseWords(activity.phase);
    case State::Ended: return QString();   // the outcome's column says how it ended
    case State::WaitingForLeave: break;
    }
    return QStringLiteral("готово; ожидание следующей станции");
}

FleetPortTable::FleetPortTable(QWidget* parent) : QTableWidget(0, Columns, parent) {
    setHorizontalHeaderLabels({QStringLiteral("Порт"), QStringLiteral("Описание"), QStringLiteral("Адрес"),
                               QStringLiteral("Этап"), QStringLiteral("Результат")});
    setAccessibleName(QStringLiteral("Порты"));
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    verticalHeader()->setVisible(false);
    horizontalHeader()->setStretchLastSection(true);
    setWordWrap(true);
    connect(this, &QTableWidget::itemChanged, this, &FleetPortTable::onItemChanged);
}

int FleetPortTable::rowOf(const QString& port) const {
    for (int row = 0; row < rowCount(); ++row)
        if (item(row, Port) && item(row, Port)->text() == port) return row;
    return -1;
}

QStringList FleetPortTable::portNames() const {
    QStringList names;
    for (int row = 0; row < rowCount(); ++row) names << item(row, Port)->text();
    return names;
}

// Kept on the row's port cell: whether `--all` (and so "Все порты") takes it.
constexpr int kTakenByAllRole = Qt::UserRole + 1;

bool FleetPortTable::takenByAll(int row) const { return item(row, Port)->data(kTakenByAllRole).toBool(); }

void FleetPortTable::setCell(int row, int column, const QString& text) {
    QTableWidgetItem* cell = item(row, column);
    if (!cell) {
        cell = new QTableWidgetItem;
        cell->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        setItem(row, column, cell);
    }
    cell->setText(text);
}

void FleetPortTable::addRow(const FleetPortInfo& port) {
    const int row = rowCount();
    insertRow(row);
    auto* name = new QTableWidgetItem(port.name);
    name->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    name->setData(kTakenByAllRole, port.takenByAll);
    if (all_ && port.takenByAll) checked_.insert(port.name);
    name->setCheckState(checked_.contains(port.name) ? Qt::Checked : Qt::Unchecked);
    setItem(row, Port, name);
    setCell(row, Description, QString::fromStdWString(port.entry.description));
    for (int column = Address; column < Columns; ++column) setCell(row, column, QString());
}

void FleetPortTable::setPorts(const std::vector<FleetPortInfo>& ports, const QSet<QString>& keep) {
    filling_ = true;
    const QStringList before = chosenPorts();
    for (int row = rowCount() - 1; row >= 0; --row) {
        const QString name = item(row, Port)->text();
        const bool listed = std::any_of(ports.begin(), ports.end(), [&name](const FleetPortInfo& p) { return p.name == name; });
        if (!listed && !keep.contains(name)) removeRow(row);
        else if (!listed) setCell(row, Phase, activityWords(PortActivity::waiting(PortActivity::State::WaitingForPort)));
    }
    for (const FleetPortInfo& port : ports) {
        const int row = rowOf(port.name);
        if (row < 0) {
            addRow(port);
            continue;
        }
        setCell(row, Description, QString::fromStdWString(port.entry.description));
        item(row, Port)->setData(kTakenByAllRole, port.takenByAll);
        if (all_ && port.takenByAll && !checked_.contains(port.name)) {
            checked_.insert(port.name);
            item(row, Port)->setCheckState(Qt::Checked);
        }
    }
    filling_ = false;
    if (chosenPorts() != before) emit choiceChanged();
}

void FleetPortTable::setAllChecked(bool all) {
    all_ = all;
    if (!all) return;
    filling_ = true;
    for (int row = 0; row < rowCount(); ++row) {
        if (!takenByAll(row)) continue;
        checked_.insert(item(row, Port)->text());
        item(row, Port)->setCheckState(Qt::Checked);
    }
    filling_ = false;
    emit choiceChanged();
}

void FleetPortTable::setChecked(const QSet<QString>& names) {
    checked_ = names;
    filling_ = true;
    for (int row = 0; row < rowCount(); ++row)
        item(row, Port)->setCheckState(checked_.contains(item(row, Port)->text()) ? Qt::Checked : Qt::Unchecked);
    filling_ = false;
    emit choiceChanged();
}

QStringList FleetPortTable::chosenPorts() const {
    QStringList chosen;
    for (int row = 0; row < rowCount(); ++row) {
        const QString name = item(row, Port)->text();
        if (checked_.contains(name)) chosen << name;
    }
    return chosen;
}

void FleetPortTable::onItemChanged(QTableWidgetItem* changed) {
    if (filling_ || changed->column() != Port) return;
    const QString name = changed->text();
    const bool on = changed->checkState() == Qt::Checked;
    if (on == checked_.contains(name)) return;
    if (on) checked_.insert(name);
    else checked_.remove(name);
    emit choiceChanged();
}

void FleetPortTable::showActivity(const QString& port, const PortActivity& now) {
    const int row = rowOf(port);
    if (row < 0) return;
    if (now.address) setCell(row, Address, QString::number(*now.address));
    setCell(row, Phase, activityWords(now));
}

void FleetPortTable::clearActivity(const QString& port) {
    const int row = rowOf(port);
    if (row >= 0) setCell(row, Phase, QString());
}

void FleetPortTable::showRun(const QString& port, const PortRunRecord& run) {
    const int row = rowOf(port);
    if (row < 0) return;
    const OutcomeWords words = outcomeWords(run.outcome, run.noStation);
    setCell(row, Address, run.address ? QString::number(*run.address) : QString());
    setCell(row, Outcome, words.text);
    item(row, Outcome)->setForeground(QBrush(words.attention ? kAttention : kDone));
    item(row, Outcome)->setToolTip(run.message);
}

void FleetPortTable::showMessage(const QString& port, const QString& line) {
    const int row = rowOf(port);
    if (row >= 0 && item(row, Outcome)) item(row, Outcome)->setToolTip(line);
}
