#include "FleetPortTable.h"

#include <QBrush>
#include <QColor>
#include <QHeaderView>
#include <QKeyEvent>
#include <algorithm>

#include "PortTableAccessible.h"

namespace {

const QColor kDone(0x1b, 0x7a, 0x2e);
const QColor kAttention(0xb0, 0x1c, 0x1c);

// Kept on the row's port cell: whether `--all` (and so "Все порты") takes it.
constexpr int kTakenByAllRole = Qt::UserRole + 1;
// Kept on the row's port cell: whether the last list had it.
constexpr int kListedRole = Qt::UserRole + 2;

bool named(const std::vector<FleetPortInfo>& ports, const QString& name) {
    return std::any_of(ports.begin(), ports.end(), [&name](const FleetPortInfo& p) { return p.name == name; });
}

}  // namespace

FleetPortTable::FleetPortTable(QWidget* parent) : QTableWidget(0, Columns, parent) {
    installPortTableAccessibility();
    setHorizontalHeaderLabels({QStringLiteral("Порт"), QStringLiteral("Описание"), QStringLiteral("Адрес"),
                               QStringLiteral("Этап"), QStringLiteral("Результат")});
    setAccessibleName(QStringLiteral("Порты"));
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
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

bool FleetPortTable::takenByAll(int row) const { return item(row, Port)->data(kTakenByAllRole).toBool(); }

void FleetPortTable::setCell(int row, int column, const QString& text) {
    QTableWidgetItem* cell = item(row, column);
    if (!cell) {
        cell = new QTableWidgetItem;
        cell->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        setItem(row, column, cell);
    }
    if (cell->text() != text) cell->setText(text);
}

void FleetPortTable::addRow(const FleetPortInfo& port) {
    const int row = rowCount();
    insertRow(row);
    auto* name = new QTableWidgetItem(port.name);
    name->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    name->setCheckState(checked_.contains(port.name) ? Qt::Checked : Qt::Unchecked);
    setItem(row, Port, name);
    for (int column = Description; column < Columns; ++column) setCell(row, column, QString());
}

void FleetPortTable::updateRow(int row, const FleetPortInfo& port, bool byAll) {
    QTableWidgetItem* name = item(row, Port);
    name->setData(kTakenByAllRole, byAll);
    name->setData(kListedRole, true);
    setCell(row, Description, QString::fromStdWString(port.entry.description));
    if (all_ && byAll && !checked_.contains(port.name)) {
        checked_.insert(port.name);
        name->setCheckState(Qt::Checked);
    }
}

void FleetPortTable::setPorts(const PortList& found, const QString& match, const QSet<QString>& keep) {
    match_ = match.trimmed();
    // Every port once; the filter shows some and "Все порты" takes some, each
    // exactly as `--all --match` would (a name the filter picks that stands
    // for a device listed under another name too has its own row).
    std::vector<FleetPortInfo> rows = fleetPorts(found, QString(), FleetTake::Shown);
    const std::vector<FleetPortInfo> shown = fleetPorts(found, match_, FleetTake::Shown);
    const std::vector<FleetPortInfo> taken = fleetPorts(found, match_, FleetTake::All);
    for (const auto* list : {&shown, &taken})
        for (const FleetPortInfo& port : *list)
            if (!named(rows, port.name)) rows.push_back(port);
    filling_ = true;
    const QStringList before = chosenPorts();
    for (int row = rowCount() - 1; row >= 0; --row) {
        const QString name = item(row, Port)->text();
        if (named(rows, name)) continue;
        if (!keep.contains(name)) {
            removeRow(row);
            continue;
        }
        item(row, Port)->setData(kListedRole, false);
        setCell(row, Phase, activityWords(PortActivity::waiting(PortActivity::State::WaitingForPort)));
    }
    for (const FleetPortInfo& port : rows) {
        if (rowOf(port.name) < 0) addRow(port);
        updateRow(rowOf(port.name), port, named(taken, port.name));
    }
    for (int row = 0; row < rowCount(); ++row) {
        const QString name = item(row, Port)->text();
        const bool listed = item(row, Port)->data(kListedRole).toBool();
        // A worked port that vanished is shown while its name holds the match.
        setRowHidden(row, listed ? !named(shown, name) && !named(taken, name)
                                 : !name.contains(match_, Qt::CaseInsensitive));
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

void FleetPortTable::toggle(int row) {
    QTableWidgetItem* name = row >= 0 && row < rowCount() ? item(row, Port) : nullptr;
    if (name) name->setCheckState(name->checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
}

void FleetPortTable::keyPressEvent(QKeyEvent* event) {
    if ((event->key() == Qt::Key_Space || event->key() == Qt::Key_Select) && currentRow() >= 0) {
        toggle(currentRow());
        event->accept();
        return;
    }
    QTableWidget::keyPressEvent(event);
}

QStringList FleetPortTable::chosenPorts() const {
    QStringList chosen;
    for (int row = 0; row < rowCount(); ++row) {
        const QString name = item(row, Port)->text();
        if (!isRowHidden(row) && checked_.contains(name)) chosen << name;
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

void FleetPortTable::showRun(const QString& port, const PortRunRecord& run, const QString& note) {
    const int row = rowOf(port);
    if (row < 0) return;
    const OutcomeWords words = outcomeWords(run.outcome, run.noStation);
    setCell(row, Address, run.address ? QString::number(*run.address) : QString());
    setCell(row, Outcome, words.text);
    item(row, Outcome)->setForeground(QBrush(words.attention ? kAttention : kDone));
    item(row, Outcome)->setToolTip(note);
}
