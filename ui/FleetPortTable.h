#pragma once
// The fleet window's ports: one row per port discovery lists, with a check
// box and the port's name, its description, and while it is worked on the
// station's address, the phase and the last outcome in words and colour.
// Every cell is a table item whose text is its accessible name.
#include <QSet>
#include <QString>
#include <QTableWidget>
#include <vector>

#include "FleetPorts.h"
#include "PortActivity.h"
#include "PortWorker.h"
#include "RunOutcome.h"

// The outcome of a run in the window's words: what happened and, when the
// station needs attention, what to do; `attention` is false for a station
// that is on the new channel.
struct OutcomeWords {
    QString text;
    bool attention = false;
};
OutcomeWords outcomeWords(RunOutcome outcome, bool noStation);
// What a port is doing, in Russian; empty once its run has ended (the
// outcome says how).
QString activityWords(const PortActivity& activity);

class FleetPortTable : public QTableWidget {
    Q_OBJECT
public:
    enum Column { Port, Description, Address, Phase, Outcome, Columns };
    explicit FleetPortTable(QWidget* parent = nullptr);

    // The rows follow the list (the ports the name filter shows); a port that
    // is still worked on keeps its row after it left the list.
    void setPorts(const std::vector<FleetPortInfo>& ports, const QSet<QString>& keep);
    // Every row `--all` takes checked, and those that come later too.
    void setAllChecked(bool all);
    bool allChecked() const { return all_; }
    void setChecked(const QSet<QString>& names);
    // The checked rows.
    QStringList chosenPorts() const;
    QSet<QString> checkedNames() const { return checked_; }
    QStringList portNames() const;

    void showActivity(const QString& port, const PortActivity& now);
    // The port's work has ended: no phase.
    void clearActivity(const QString& port);
    void showRun(const QString& port, const PortRunRecord& run);
    void showMessage(const QString& port, const QString& line);
    int rowOf(const QString& port) const;

signals:
    // The user checked or unchecked rows, or the rows that are chosen changed.
    void choiceChanged();

private:
    void addRow(const FleetPortInfo& port);
    void setCell(int row, int column, const QString& text);
    void onItemChanged(QTableWidgetItem* item);
    bool takenByAll(int row) const;

    QSet<QString> checked_;
    bool all_ = false;
    bool filling_ = false;
};
