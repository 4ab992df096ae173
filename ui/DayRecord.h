#pragma once
// The day's record in the fleet window: today's stations by their latest
// outcome (moved, already moved, needs attention) and today's runs from the
// ledger, newest first, of every program that writes it (this window, the
// other window, rechannel-cli). A double click on a run shows its trace when
// the fleet kept one.
#include <QCheckBox>
#include <QDateTime>
#include <QLabel>
#include <QTableWidget>
#include <QWidget>
#include <optional>
#include <vector>

#include "Ledger.h"

class DayRecord : public QWidget {
    Q_OBJECT
public:
    explicit DayRecord(QWidget* parent = nullptr);

    // Reads the ledger again.
    void refresh();
    // A run of this window ended: its trace belongs to the ledger line of
    // `device` and `address` written just before.
    void noteTrace(const QString& device, std::optional<int> address, const QString& trace);
    // The trace of the run in `row` of the table; empty when none was kept.
    QString traceOf(int row) const;

    int moved() const { return moved_; }
    int alreadyMoved() const { return alreadyMoved_; }
    int needAttention() const { return attention_; }
    QTableWidget* runs() const { return runs_; }
    QCheckBox* attentionOnly() const { return attentionOnly_; }

signals:
    // Say what went wrong reading the ledger (another program holds it, it
    // is no ledger).
    void problem(const QString& text);

private:
    void fill(const std::vector<LedgerEntry>& today);
    void showTrace(int row);

    struct KeptTrace {
        QString device;
        std::optional<int> address;
        QDateTime time;
        QString trace;
    };
    std::vector<KeptTrace> traces_;
    std::vector<LedgerEntry> shown_;
    QLabel* counters_ = nullptr;
    QCheckBox* attentionOnly_ = nullptr;
    QTableWidget* runs_ = nullptr;
    int moved_ = 0;
    int alreadyMoved_ = 0;
    int attention_ = 0;
};
