#include "DayRecord.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QHeaderView>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QVBoxLayout>
#include <cmath>

#include "FleetPortTable.h"
#include "LedgerSummary.h"
#include "PortWorker.h"

namespace {

// A trace far longer than any run's is cut: the dialog must stay quick.
constexpr qint64 kLongestTrace = 4 * 1024 * 1024;
// A run's ledger line is written just before the window hears its end.
constexpr qint64 kSameRunSeconds = 60;

QString outcomeText(const LedgerEntry& entry) {
    const std::optional<RunOutcome> outcome = outcomeNamed(entry.outcome);
    return outcome ? outcomeWords(*outcome, false).text : entry.outcome;
}

bool needsAttention(const LedgerEntry& entry) {
    const std::optional<RunOutcome> outcome = outcomeNamed(entry.outcome);
    return !outcome || outcomeWords(*outcome, false).attention;
}

QTableWidgetItem* cell(const QString& text) {
    auto* item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    return item;
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
    runs_->verticalHeader()->setVisible(false);
    runs_->horizontalHeader()->setStretchLastSection(true);
    layout->addWidget(counters_);
    layout->addWidget(attentionOnly_);
    layout->addWidget(runs_);
    connect(attentionOnly_, &QCheckBox::toggled, this, &DayRecord::refresh);
    connect(runs_, &QTableWidget::cellDoubleClicked, this, [this](int row, int) { showTrace(row); });
}

void DayRecord::refresh() {
    QString error;
    const std::vector<LedgerEntry> all = ledger::read(ledger::path(), nullptr, &error);
    if (!error.isEmpty()) emit problem(QStringLiteral("Журнал запусков не читается: %1").arg(error));
    const QDateTime today(QDate::currentDate(), QTime(0, 0));
    std::vector<LedgerEntry> todays;
    for (const LedgerEntry& entry : all)
        if (entry.time.isValid() && entry.time >= today) todays.push_back(entry);
    fill(todays);
}

void DayRecord::fill(const std::vector<LedgerEntry>& today) {
    moved_ = alreadyMoved_ = attention_ = 0;
    for (const LedgerSummary::Station& station : summariseLedger(today, QDateTime()).stations) {
        if (station.outcome == RunOutcome::Moved) ++moved_;
        else if (station.outcome == RunOutcome::AlreadyMoved) ++alreadyMoved_;
        else if (outcomeWords(station.outcome, false).attention) ++attention_;
    }
    counters_->setText(QStringLiteral("Сегодня: переведено %1, уже переведено %2, требуют внимания %3")
                           .arg(moved_).arg(alreadyMoved_).arg(attention_));
    counters_->setAccessibleName(counters_->text());
    shown_.clear();
    for (auto entry = today.rbegin(); entry != today.rend(); ++entry)
        if (!attentionOnly_->isChecked() || needsAttention(*entry)) shown_.push_back(*entry);
    runs_->setRowCount(static_cast<int>(shown_.size()));
    for (int row = 0; row < runs_->rowCount(); ++row) {
        const LedgerEntry& entry = shown_[static_cast<std::size_t>(row)];
        runs_->setItem(row, 0, cell(entry.time.toString(QStringLiteral("HH:mm:ss"))));
        runs_->setItem(row, 1, cell(entry.port));
        runs_->setItem(row, 2, cell(entry.address ? QString::number(*entry.address) : QStringLiteral("—")));
        runs_->setItem(row, 3, cell(outcomeText(entry)));
    }
}

void DayRecord::noteTrace(const QString& device, std::optional<int> address, const QString& trace) {
    // The ledger names the device as the child opened it: a published link
    // or the node it points at.
    traces_.push_back({deviceIdentity(device), address, QDateTime::currentDateTime(), trace});
}

QString DayRecord::traceOf(int row) const {
    if (row < 0 || row >= static_cast<int>(shown_.size())) return QString();
    const LedgerEntry& entry = shown_[static_cast<std::size_t>(row)];
    for (auto kept = traces_.rbegin(); kept != traces_.rend(); ++kept)
        if ((kept->device == entry.port || kept->device == deviceIdentity(entry.port)) && kept->address == entry.address &&
            std::abs(entry.time.secsTo(kept->time)) <= kSameRunSeconds)
            return kept->trace;
    return QString();
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
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(text);
    layout->addWidget(buttons);
    dialog.resize(700, 500);
    dialog.exec();
}
