#include "DayRecord.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "BackgroundTask.h"
#include "FleetWords.h"
#include "LedgerSummary.h"

namespace {

// A trace far longer than any run's is cut: the dialog must stay quick.
constexpr qint64 kLongestTrace = 4 * 1024 * 1024;
// A burst of appends (several runs ending together) is read once.
constexpr int kSettleMs = 200;

QDateTime todayBegins() { return QDateTime(QDate::currentDate(), QTime(0, 0)); }

QString outcomeText(const LedgerEntry& entry) {
    const std::optional<RunOutcome> outcome = outcomeNamed(entry.outcome);
    return outcome ? outcomeWords(*outcome, false).text : entry.outcome;
}

bool entryNeedsAttention(const LedgerEntry& entry) {
    const std::optional<RunOutcome> outcome = outcomeNamed(entry.outcome);
    return !outcome || needsAttention(*outcome);
}

QTableWidgetItem* cell(const QString& text) {
    auto* item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    return item;
}

// A run the child could not even start wrote no line: the record still has
// it, as the worker saw it.
LedgerEntry entryOf(const PortRunRecord& run) {
    if (run.ledger) return *run.ledger;
    LedgerEntry entry;
    entry.time = QDateTime::currentDateTime();
    entry.port = run.device;
    entry.address = run.address;
    entry.outcome = outcomeName(run.outcome);
    entry.backup = run.backup;
    return entry;
}

}  // namespace

DayRecord::DayRecord(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    counters_ = new QLabel(this);
    attentionOnly_ = new QCheckBox(QStringLiteral("только требующие внимания"), this);
    runs_ = new QTableWidget(0, 4, this);
    runs_->setHorizontalHeaderLabels(
        {QStringLiteral("Время"), QStringLiteral("Порт"), QStringLiteral("Адрес"), QStringLiteral("Результат")});
    runs_->setAccessibleName(QStringLiteral("Запуски за сегодня"));
    runs_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    runs_->setSelectionBehavior(QAbstractItemView::SelectRows);
    runs_->setSelectionMode(QAbstractItemView::SingleSelection);
    runs_->verticalHeader()->setVisible(false);
    runs_->horizontalHeader()->setStretchLastSection(true);
    runs_->installEventFilter(this);
    layout->addWidget(counters_);
    layout->addWidget(attentionOnly_);
    layout->addWidget(runs_);
    portNames_ = [](const QString& port) { return port; };
    connect(attentionOnly_, &QCheckBox::toggled, this, &DayRecord::fill);
    connect(runs_, &QTableWidget::cellDoubleClicked, this, [this](int row, int) { showTrace(row); });
}

void DayRecord::setPortNames(std::function<QString(const QString&)> names) {
    portNames_ = std::move(names);
    fill();
}

void DayRecord::watchLedger() {
    if (watcher_) return;
    watcher_ = new QFileSystemWatcher(this);
    changed_ = new QTimer(this);
    changed_->setSingleShot(true);
    connect(changed_, &QTimer::timeout, this, &DayRecord::readLater);
    // The ledger may be replaced (a copy put back, a spreadsheet's save):
    // its folder is watched too, and the file taken up again.
    const auto changed = [this] {
        watchFiles();
        changed_->start(kSettleMs);
    };
    connect(watcher_, &QFileSystemWatcher::fileChanged, this, changed);
    connect(watcher_, &QFileSystemWatcher::directoryChanged, this, changed);
    midnight_ = new QTimer(this);
    midnight_->setSingleShot(true);
    connect(midnight_, &QTimer::timeout, this, [this] {
        fill();
        midnight_->start(int(QDateTime::currentDateTime().msecsTo(todayBegins().addDays(1))) + 1000);
    });
    midnight_->start(int(QDateTime::currentDateTime().msecsTo(todayBegins().addDays(1))) + 1000);
    watchFiles();
    readLater();
}

void DayRecord::watchFiles() {
    const QString ledger = ledger::path();
    const QStringList wanted{QFileInfo(ledger).absolutePath(), ledger, ledger::pendingPath(ledger)};
    const QStringList watched = watcher_->files() + watcher_->directories();
    for (const QString& path : wanted)
        if (!watched.contains(path) && QFileInfo::exists(path)) watcher_->addPath(path);
}

DayRecord::Read DayRecord::readLedger(quint64 generation) {
    Read read;
    read.generation = generation;
    const QDateTime today = todayBegins();
    for (LedgerEntry& entry : ledger::read(ledger::path(), nullptr, &read.error))
        if (entry.time.isValid() && entry.time >= today) read.entries.push_back(std::move(entry));
    return read;
}

void DayRecord::refresh() { take(readLedger(++generation_)); }

void DayRecord::readLater() {
    runInBackground<Read>(this, [generation = ++generation_] { return readLedger(generation); },
                          [this](const Read& read) { take(read); });
}

// The ledger as read: the lines of this window's own runs are in the record
// already, with their traces.
void DayRecord::take(const Read& read) {
    if (read.generation < taken_) return;   // a later read has been shown
    taken_ = read.generation;
    if (!read.error.isEmpty() && read.error != lastProblem_)
        emit problem(QStringLiteral("Журнал запусков %1 не читается (сообщение системы: «%2»). Закройте программу, "
                                    "которая его держит, или верните файл на место.")
                         .arg(QDir::toNativeSeparators(ledger::path()), read.error));
    lastProblem_ = read.error;
    others_.clear();
    for (const LedgerEntry& entry : read.entries)
        if (!ownLines_.contains(ledger::formatLine(entry))) others_.push_back(entry);
    fill();
}

void DayRecord::addRun(const QString& port, const PortRunRecord& run) {
    own_.push_back(Run{entryOf(run), port, run.trace});
    if (run.ledger) {
        // Read already, before the window heard of the run's end.
        const QByteArray line = ledger::formatLine(*run.ledger);
        ownLines_.insert(line);
        others_.erase(std::remove_if(others_.begin(), others_.end(),
                                     [&line](const LedgerEntry& e) { return ledger::formatLine(e) == line; }),
                      others_.end());
    }
    fill();
}

void DayRecord::countStations(const std::vector<const Run*>& today) {
    std::vector<LedgerEntry> entries;
    for (const Run* run : today) entries.push_back(run->entry);
    moved_ = alreadyMoved_ = attention_ = 0;
    for (const LedgerSummary::Station& station : summariseLedger(entries, QDateTime()).stations) {
        if (station.outcome == RunOutcome::Moved) ++moved_;
        else if (station.outcome == RunOutcome::AlreadyMoved) ++alreadyMoved_;
        else if (needsAttention(station.outcome)) ++attention_;
    }
    counters_->setText(QStringLiteral("Сегодня: переведено %1, уже переведено %2, требуют внимания %3")
                           .arg(moved_).arg(alreadyMoved_).arg(attention_));
    counters_->setAccessibleName(counters_->text());
}

void DayRecord::fill() {
    const QDateTime today = todayBegins();
    otherRuns_.clear();
    for (const LedgerEntry& entry : others_) otherRuns_.push_back(Run{entry, portNames_(entry.port), QString()});
    std::vector<const Run*> all;   // in the order they happened, the ledger's first at equal times
    for (const std::vector<Run>* runs : {&otherRuns_, &own_})
        for (const Run& run : *runs)
            if (run.entry.time >= today) all.push_back(&run);
    std::stable_sort(all.begin(), all.end(), [](const Run* a, const Run* b) { return a->entry.time < b->entry.time; });
    countStations(all);
    shown_.clear();
    for (auto run = all.rbegin(); run != all.rend(); ++run)
        if (!attentionOnly_->isChecked() || entryNeedsAttention((*run)->entry)) shown_.push_back(*run);
    runs_->setRowCount(static_cast<int>(shown_.size()));
    for (int row = 0; row < runs_->rowCount(); ++row) {
        const Run& run = *shown_[static_cast<std::size_t>(row)];
        runs_->setItem(row, 0, cell(run.entry.time.toString(QStringLiteral("HH:mm:ss"))));
        runs_->setItem(row, 1, cell(run.port));
        runs_->setItem(row, 2, cell(run.entry.address ? QString::number(*run.entry.address) : QStringLiteral("—")));
        runs_->setItem(row, 3, cell(outcomeText(run.entry)));
    }
}

QString DayRecord::traceOf(int row) const {
    if (row < 0 || row >= static_cast<int>(shown_.size())) return QString();
    return shown_[static_cast<std::size_t>(row)]->trace;
}

bool DayRecord::eventFilter(QObject* watched, QEvent* event) {
    if (watched == runs_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && runs_->currentRow() >= 0) {
            showTrace(runs_->currentRow());
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void DayRecord::showTrace(int row) {
    const QString path = traceOf(row);
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly)) {
        QMessageBox::information(this, QStringLiteral("Запись обмена"),
                                 path.isEmpty() ? QStringLiteral("Для этого запуска записи обмена нет: его сделала "
                                                                 "другая программа или окно до перезапуска.")
                                                : QStringLiteral("Запись обмена %1 не открывается: %2")
                                                      .arg(path, file.errorString()));
        return;
    }
    QDialog dialog(this);
    dialog.setWindowTitle(QStringLiteral("Запись обмена — %1").arg(path));
    auto* layout = new QVBoxLayout(&dialog);
    auto* text = new QPlainTextEdit(QString::fromUtf8(file.read(kLongestTrace)), &dialog);
    text->setReadOnly(true);
    text->setAccessibleName(QStringLiteral("Запись обмена"));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, &dialog);
    // Qt words its standard buttons in English unless a translation is loaded.
    buttons->button(QDialogButtonBox::Close)->setText(QStringLiteral("Закрыть"));
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(text);
    layout->addWidget(buttons);
    dialog.resize(700, 500);
    dialog.exec();
}
