#pragma once
// The day's record in the fleet window: today's stations by their latest
// outcome (moved, already moved, needs attention) and today's runs, newest
// first. The runs of this window enter it as they end, with their traces;
// the ledger is read at the start and again whenever it changes (a file
// watch), for the runs of the other programs that write it (the other
// window, rechannel-cli). Ports are named as the port rows name them. A run
// opens its trace with Enter or a double click.
#include <QCheckBox>
#include <QDateTime>
#include <QLabel>
#include <QSet>
#include <QTableWidget>
#include <QWidget>
#include <functional>
#include <optional>
#include <vector>

#include "Ledger.h"
#include "PortWorker.h"

class QFileSystemWatcher;
class QTimer;

class DayRecord : public QWidget {
    Q_OBJECT
public:
    explicit DayRecord(QWidget* parent = nullptr);

    // Reads the ledger now, and on every change of it from then on (on a
    // thread of its own: another program may hold the ledger for seconds).
    void watchLedger();
    // Reads the ledger now, here.
    void refresh();
    // A run of this window has ended: it enters the record with its trace;
    // `port` as the port rows name it.
    void addRun(const QString& port, const PortRunRecord& run);
    // How the ledger's port of another program's line is named in the rows
    // ("Acc pair 1" for /dev/pts/0); the path itself where it gives none.
    void setPortNames(std::function<QString(const QString& ledgerPort)> names);

    // The trace of the run in `row` of the table; empty when none was kept.
    QString traceOf(int row) const;

    int moved() const { return moved_; }
    int alreadyMoved() const { return alreadyMoved_; }
    int needAttention() const { return attention_; }
    QTableWidget* runs() const { return runs_; }
    QCheckBox* attentionOnly() const { return attentionOnly_; }

signals:
    // Say what went wrong reading the ledger (another program holds it, it
    // is no ledger); once, not again on every change of its folder.
    void problem(const QString& text);

protected:
    // Enter on a run opens its trace, as a double click does.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Run {
        LedgerEntry entry;
        QString port;    // as the rows name it
        QString trace;   // empty: none kept (another program's run)
    };
    struct Read {
        std::vector<LedgerEntry> entries;
        QString error;
        quint64 generation = 0;
    };
    static Read readLedger(quint64 generation);
    void readLater();
    void take(const Read& read);
    void fill();
    void countStations(const std::vector<const Run*>& today);
    void watchFiles();
    void showTrace(int row);

    std::vector<Run> own_;                 // this window's runs
    QSet<QByteArray> ownLines_;            // their ledger lines, as written
    std::vector<LedgerEntry> others_;      // the ledger's other lines, as last read
    std::vector<const Run*> shown_;        // the table's rows
    std::vector<Run> otherRuns_;           // others_ as runs, for the rows
    std::function<QString(const QString&)> portNames_;
    QFileSystemWatcher* watcher_ = nullptr;
    QTimer* changed_ = nullptr;            // a burst of changes read once
    QTimer* midnight_ = nullptr;           // a new day begins a new record
    quint64 generation_ = 0;               // of the last read asked for
    quint64 taken_ = 0;                    // of the last read shown
    QString lastProblem_;                  // said once, until the next read differs
    QLabel* counters_ = nullptr;
    QCheckBox* attentionOnly_ = nullptr;
    QTableWidget* runs_ = nullptr;
    int moved_ = 0;
    int alreadyMoved_ = 0;
    int attention_ = 0;
};
