#include "PortTableAccessible.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QHash>
#include <QHeaderView>
#include <QPointer>
#include <utility>

#include "FleetPortTable.h"

namespace {

// One header or body cell of the table, by its place: rows and columns come
// and go as ports do, and every cell is made anew after a change.
class PortCell : public QAccessibleInterface, public QAccessibleTableCellInterface, public QAccessibleActionInterface {
public:
    // `row` -1: the column's header.
    PortCell(FleetPortTable* table, int row, int column) : table_(table), row_(row), column_(column) {}

    bool isValid() const override {
        return table_ && row_ >= -1 && row_ < table_->rowCount() && column_ >= 0 && column_ < table_->columnCount();
    }
    QObject* object() const override { return nullptr; }
    QAccessibleInterface* parent() const override { return QAccessible::queryAccessibleInterface(table_.data()); }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    void setText(QAccessible::Text, const QString&) override {}

    QString text(QAccessible::Text t) const override;
    QRect rect() const override;
    QAccessible::Role role() const override;
    QAccessible::State state() const override;
    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::TableCellInterface && row_ >= 0) return static_cast<QAccessibleTableCellInterface*>(this);
        if (type == QAccessible::ActionInterface) return static_cast<QAccessibleActionInterface*>(this);
        return nullptr;
    }

    bool isSelected() const override { return isValid() && row_ >= 0 && table_->item(row_, column_) && table_->item(row_, column_)->isSelected(); }
    QList<QAccessibleInterface*> columnHeaderCells() const override;
    int columnIndex() const override { return column_; }
    QList<QAccessibleInterface*> rowHeaderCells() const override { return {}; }
    int rowIndex() const override { return row_; }
    int columnExtent() const override { return 1; }
    int rowExtent() const override { return 1; }
    QAccessibleInterface* table() const override { return parent(); }

    QStringList actionNames() const override {
        return isCheckBox() ? QStringList{toggleAction()} : QStringList();
    }
    void doAction(const QString& name) override {
        if (isCheckBox() && name == toggleAction()) table_->toggle(row_);
    }
    QStringList keyBindingsForAction(const QString& name) const override {
        return isCheckBox() && name == toggleAction() ? QStringList{QStringLiteral("Space")} : QStringList();
    }

private:
    bool isCheckBox() const { return isValid() && row_ >= 0 && column_ == FleetPortTable::Port; }
    QTableWidgetItem* item() const { return isValid() && row_ >= 0 ? table_->item(row_, column_) : nullptr; }

    QPointer<FleetPortTable> table_;
    int row_;
    int column_;
};

QString PortCell::text(QAccessible::Text t) const {
    if (!isValid()) return QString();
    if (row_ < 0) return t == QAccessible::Name ? table_->horizontalHeaderItem(column_)->text() : QString();
    const QTableWidgetItem* cell = item();
    if (!cell) return QString();
    if (t == QAccessible::Name) return cell->text();
    if (t == QAccessible::Description) return cell->toolTip();
    return QString();
}

QRect PortCell::rect() const {
    if (!isValid()) return QRect();
    if (row_ < 0) {
        const QHeaderView* header = table_->horizontalHeader();
        const QPoint zero = header->mapToGlobal(QPoint(0, 0));
        return QRect(zero.x() + header->sectionViewportPosition(column_), zero.y(), header->sectionSize(column_),
                     header->height());
    }
    QRect r = table_->visualRect(table_->model()->index(row_, column_));
    if (r.isNull()) return r;
    return r.translated(table_->viewport()->mapToGlobal(QPoint(0, 0)));
}

QAccessible::Role PortCell::role() const {
    if (row_ < 0) return QAccessible::ColumnHeader;
    return column_ == FleetPortTable::Port ? QAccessible::CheckBox : QAccessible::Cell;
}

QAccessible::State PortCell::state() const {
    QAccessible::State st;
    if (!isValid() || row_ < 0) return st;
    st.invisible = table_->isRowHidden(row_);
    st.selectable = true;
    st.focusable = true;
    st.selected = isSelected();
    const QModelIndex index = table_->model()->index(row_, column_);
    st.focused = table_->hasFocus() && table_->currentIndex() == index;
    if (isCheckBox()) {
        st.checkable = true;
        st.checked = item() && item()->checkState() == Qt::Checked;
    }
    return st;
}

QList<QAccessibleInterface*> PortCell::columnHeaderCells() const {
    QAccessibleInterface* owner = parent();
    QAccessibleInterface* header = owner ? owner->child(column_) : nullptr;
    return header ? QList<QAccessibleInterface*>{header} : QList<QAccessibleInterface*>();
}

// The table itself: its cells as children, and the table interface a screen
// reader walks it by.
class PortTable : public QAccessibleWidget, public QAccessibleTableInterface {
public:
    explicit PortTable(FleetPortTable* table) : QAccessibleWidget(table, QAccessible::Table) {}
    ~PortTable() override { forgetCells(); }

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::TableInterface) return static_cast<QAccessibleTableInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }
    int childCount() const override { return (view()->rowCount() + 1) * view()->columnCount(); }
    QAccessibleInterface* child(int index) const override {
        const int columns = view()->columnCount();
        if (index < 0 || columns == 0 || index >= childCount()) return nullptr;
        return cell(index / columns - 1, index % columns);
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        const QAccessibleTableCellInterface* at = child ? const_cast<QAccessibleInterface*>(child)->tableCellInterface() : nullptr;
        if (!at) {
            for (int column = 0; column < view()->columnCount(); ++column)
                if (cell(-1, column) == child) return column;
            return -1;
        }
        return (at->rowIndex() + 1) * view()->columnCount() + at->columnIndex();
    }
    QAccessibleInterface* childAt(int x, int y) const override {
        const QPoint local = view()->viewport()->mapFromGlobal(QPoint(x, y));
        const QModelIndex index = view()->indexAt(local);
        return index.isValid() ? cell(index.row(), index.column()) : nullptr;
    }

    QAccessibleInterface* caption() const override { return nullptr; }
    QAccessibleInterface* summary() const override { return nullptr; }
    QAccessibleInterface* cellAt(int row, int column) const override {
        return row >= 0 && row < rowCount() && column >= 0 && column < columnCount() ? cell(row, column) : nullptr;
    }
    int columnCount() const override { return view()->columnCount(); }
    int rowCount() const override { return view()->rowCount(); }
    QString columnDescription(int column) const override {
        const QTableWidgetItem* header = view()->horizontalHeaderItem(column);
        return header ? header->text() : QString();
    }
    QString rowDescription(int) const override { return QString(); }
    int selectedCellCount() const override { return int(view()->selectedItems().size()); }
    int selectedColumnCount() const override { return 0; }
    int selectedRowCount() const override { return int(selectedRows().size()); }
    QList<QAccessibleInterface*> selectedCells() const override {
        QList<QAccessibleInterface*> cells;
        for (const QTableWidgetItem* item : view()->selectedItems()) cells << cell(item->row(), item->column());
        return cells;
    }
    QList<int> selectedColumns() const override { return {}; }
    QList<int> selectedRows() const override {
        QList<int> rows;
        for (const QModelIndex& index : view()->selectionModel()->selectedRows()) rows << index.row();
        return rows;
    }
    bool isColumnSelected(int) const override { return false; }
    bool isRowSelected(int row) const override { return view()->selectionModel()->isRowSelected(row, QModelIndex()); }
    bool selectRow(int row) override {
        if (row < 0 || row >= rowCount()) return false;
        view()->selectRow(row);
        return true;
    }
    bool selectColumn(int) override { return false; }
    bool unselectRow(int row) override {
        if (!isRowSelected(row)) return false;
        view()->clearSelection();
        return true;
    }
    bool unselectColumn(int) override { return false; }
    // Rows or columns came or went: every cell is made anew when next asked
    // for. A cell's text that changed is read as it is now by the cell kept
    // for its place: made anew, its old id would be given to another cell
    // while a screen reader still reads it (a port's check box answering
    // with a phase).
    void modelChange(QAccessibleTableModelChangeEvent* event) override {
        if (event->modelChangeType() != QAccessibleTableModelChangeEvent::DataChanged) forgetCells();
    }

private:
    FleetPortTable* view() const { return static_cast<FleetPortTable*>(widget()); }
    QAccessibleInterface* cell(int row, int column) const {
        const auto key = qMakePair(row, column);
        const auto known = cells_.constFind(key);
        if (known != cells_.constEnd()) return QAccessible::accessibleInterface(*known);
        auto* made = new PortCell(view(), row, column);
        cells_.insert(key, QAccessible::registerAccessibleInterface(made));
        return made;
    }
    void forgetCells() {
        for (const QAccessible::Id id : std::as_const(cells_)) QAccessible::deleteAccessibleInterface(id);
        cells_.clear();
    }

    mutable QHash<QPair<int, int>, QAccessible::Id> cells_;
};

QAccessibleInterface* portTableFactory(const QString& className, QObject* object) {
    if (className != QLatin1String("FleetPortTable") || !object || !object->isWidgetType()) return nullptr;
    return new PortTable(static_cast<FleetPortTable*>(object));
}

}  // namespace

void installPortTableAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(portTableFactory);
        return true;
    }();
    (void)installed;
}
