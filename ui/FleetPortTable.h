#pragma once
// The fleet window's ports: one row per port the fleet core lists (as
// `rechannel-cli program --all` names them), with a check box and the port's
// name, its description, and while it is worked on the station's address,
// the phase and the last outcome in words and colour. The name filter hides
// the rows it does not show. To a screen reader each port's cell is a check
// box that "Toggle" ticks, as the space bar does (PortTableAccessible.h).
#include <QSet>
#include <QString>
#include <QTableWidget>
#include <vector>

#include "FleetPorts.h"
#include "FleetWords.h"
#include "PortWorker.h"

class FleetPortTable : public QTableWidget {
    Q_OBJECT
public:
    enum Column { Port, Description, Address, Phase, Outcome, Columns };
    explicit FleetPortTable(QWidget* parent = nullptr);

    // The rows follow what discovery `found`: every port once, those the
    // filter `match` does not show hidden; a port that is still worked on
    // (`keep`) keeps its row after it vanished.
    void setPorts(const PortList& found, const QString& match, const QSet<QString>& keep);
    // Every port `--all --match` takes checked, and those that come later too.
    void setAllChecked(bool all);
    bool allChecked() const { return all_; }
    void setChecked(const QSet<QString>& names);
    // Ticks or unticks a row's port, as a click on its check box does.
    void toggle(int row);
    // The checked rows that are shown.
    QStringList chosenPorts() const;
    QSet<QString> checkedNames() const { return checked_; }
    QStringList portNames() const;

    void showActivity(const QString& port, const PortActivity& now);
    // The port's work has ended: no phase.
    void clearActivity(const QString& port);
    // The run's outcome in words and colour; `note` beside it (its tool tip,
    // a screen reader's description).
    void showRun(const QString& port, const PortRunRecord& run, const QString& note);
    int rowOf(const QString& port) const;

signals:
    // The user checked or unchecked rows, or the rows that are chosen changed.
    void choiceChanged();

protected:
    // The space bar ticks the current row's port, whichever cell is current.
    void keyPressEvent(QKeyEvent* event) override;

private:
    void addRow(const FleetPortInfo& port);
    void updateRow(int row, const FleetPortInfo& port, bool takenByAll);
    void setCell(int row, int column, const QString& text);
    void onItemChanged(QTableWidgetItem* item);
    bool takenByAll(int row) const;

    QSet<QString> checked_;
    QString match_;
    bool all_ = false;
    bool filling_ = false;
};
