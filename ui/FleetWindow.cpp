#include "FleetWindow.h"

#include "SessionEndGuard.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QSplitter>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <csignal>

#include "DayRecord.h"
#include "FleetPortTable.h"
#include "FleetPorts.h"
#include "FleetSound.h"
#include "LogDirectory.h"
#include "PortWatcher.h"

namespace {

// Runs of the other programs (the other window, the CLI) show within this,
// and a port change the watcher missed (a notification lost under load) is
// caught within it.
constexpr int kLedgerPollMs = 5000;

QString settingsKey(const char* name) { return QStringLiteral("fleet/") + QLatin1String(name); }

}  // namespace

FleetWindow::FleetWindow(const QString& cli, QWidget* parent) : QMainWindow(parent), cli_(cli) {
    FleetSettings settings;
    settings.program = cli_;
    settings.programForks = true;
    settings.traceDir = logDirectoryPath() + QStringLiteral("/traces");
    settings.wait = true;
    // A port is looked up in the list as it stood at the last change, so a
    // port that vanished is waited for.
    settings.resolve = [this](const QString& name) { return devices_.value(name); };
    session_ = new FleetSession(settings, this);
    discover_ = discoverFleetPorts;
    buildUi();
    restoreChoice();
    connectUi();
    refreshPorts();
    record_->refresh();
    showState();
    // The remembered ports are chosen already: Enter or the space bar starts.
    start_->setFocus();
}

// The workers go first: they ask the window for their ports' devices.
FleetWindow::~FleetWindow() { delete session_; }

void FleetWindow::setDiscovery(Discovery discover) {
    discover_ = std::move(discover);
    refreshPorts();
}

QString FleetWindow::besideCli() {
    const QString path = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("rechannel-cli"));
    const QString exe = path + QStringLiteral(".exe");   // Windows
    return QFileInfo::exists(exe) ? exe : path;
}

void FleetWindow::buildUi() {
    setWindowTitle(QStringLiteral("Перевод парка станций"));
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    auto* choose = new QHBoxLayout;
    all_ = new QCheckBox(QStringLiteral("Все порты"), central);
    auto* matchLabel = new QLabel(QStringLiteral("Имя порта содержит:"), central);
    match_ = new QLineEdit(central);
    match_->setAccessibleName(QStringLiteral("Имя порта содержит"));
    matchLabel->setBuddy(match_);
    choose->addWidget(all_);
    choose->addStretch();
    choose->addWidget(matchLabel);
    choose->addWidget(match_);
    layout->addLayout(choose);

    auto* split = new QSplitter(Qt::Vertical, central);
    table_ = new FleetPortTable(split);
    record_ = new DayRecord(split);
    split->addWidget(table_);
    split->addWidget(record_);

    auto* buttons = new QHBoxLayout;
    start_ = new QPushButton(QStringLiteral("Начать"), central);
    stop_ = new QPushButton(QStringLiteral("Остановить"), central);
    report_ = new QPushButton(QStringLiteral("Отчёт…"), central);
    buttons->addWidget(start_);
    buttons->addWidget(stop_);
    buttons->addStretch();
    buttons->addWidget(report_);
    layout->addLayout(buttons);
    status_ = new QLabel(central);
    status_->setWordWrap(true);
    layout->addWidget(status_);
    said_ = new QLabel(central);
    said_->setWordWrap(true);
    said_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(said_);
    layout->addWidget(split, 1);
    setCentralWidget(central);
    resize(900, 640);
    watcher_ = new PortWatcher(this);
    ledgerPoll_ = new QTimer(this);
}

void FleetWindow::connectUi() {
    connect(all_, &QCheckBox::toggled, this, [this](bool on) {
        table_->setAllChecked(on);
        saveChoice();
    });
    connect(match_, &QLineEdit::textChanged, this, [this] {
        showPorts();
        saveChoice();
    });
    connect(table_, &FleetPortTable::choiceChanged, this, [this] {
        saveChoice();
        syncWork();
        showState();
    });
    connect(start_, &QPushButton::clicked, this, &FleetWindow::startWork);
    connect(stop_, &QPushButton::clicked, this, &FleetWindow::stopWork);
    connect(report_, &QPushButton::clicked, this, &FleetWindow::writeReport);
    // A station between its first write and its restart is off the air if
    // the session ends now (an update's restart, a log-off): refuse it then.
    sessionGuard_ = std::make_unique<SessionEndGuard>(this, [this] { return writing(); });
    connect(session_, &FleetSession::activity, this, &FleetWindow::onActivity);
    connect(session_, &FleetSession::runEnded, this, &FleetWindow::onRunEnded);
    connect(session_, &FleetSession::message, table_, &FleetPortTable::showMessage);
    // What a child says for people (why a port did not open, a ledger it
    // could not write) stays in view until the next one.
    connect(session_, &FleetSession::message, this, [this](const QString& port, const QString& line) {
        said_->setText(QStringLiteral("%1: %2").arg(port, line));
        said_->setAccessibleName(said_->text());
    });
    connect(session_, &FleetSession::finished, this, &FleetWindow::onFinished);
    // A port checked again while its last work was still stopping is taken now.
    connect(session_, &FleetSession::portDone, this, [this] {
        syncWork();
        showState();
    });
    connect(record_, &DayRecord::problem, this, &FleetWindow::setStatus);
    // Rows come and go as adapters are plugged in and pulled out.
    connect(watcher_, &PortWatcher::changed, this, &FleetWindow::refreshPorts);
    connect(ledgerPoll_, &QTimer::timeout, record_, &DayRecord::refresh);
    connect(ledgerPoll_, &QTimer::timeout, this, &FleetWindow::refreshPorts);
    watcher_->start();
    ledgerPoll_->start(kLedgerPollMs);
}

void FleetWindow::restoreChoice() {
    const QSettings settings;
    const QStringList names = settings.value(settingsKey("ports")).toStringList();
    table_->setChecked(QSet<QString>(names.begin(), names.end()));
    match_->setText(settings.value(settingsKey("match")).toString());
    all_->setChecked(settings.value(settingsKey("all"), false).toBool());
    table_->setAllChecked(all_->isChecked());
}

void FleetWindow::saveChoice() const {
    QSettings settings;
    const QSet<QString> checked = table_->checkedNames();
    QStringList names(checked.begin(), checked.end());
    names.sort();
    settings.setValue(settingsKey("ports"), names);
    settings.setValue(settingsKey("match"), match_->text());
    settings.setValue(settingsKey("all"), all_->isChecked());
}

void FleetWindow::refreshPorts() {
    PortList found;
    QString error;
    if (!discover_(&found, &error)) {
        setStatus(QStringLiteral("Список портов не получен: %1").arg(error));
        return;
    }
    found_ = found;
    devices_.clear();
    for (const FleetPortInfo& port : fleetPorts(found_, QString(), FleetTake::Shown)) devices_.insert(port.name, port.devicePath);
    session_->portsChanged();
    showPorts();
}

// The rows show the ports as `--all --match` lists them (FleetPorts.h);
// "Все порты" takes those `--all` takes.
void FleetWindow::showPorts() {
    const QStringList busy = session_->busyPorts();
    table_->setPorts(found_, match_->text(), QSet<QString>(busy.begin(), busy.end()));
}

// While started every chosen port is worked on, and only those: a port the
// filter hides is let go, one that vanished while worked on waits.
void FleetWindow::syncWork() {
    if (!session_->started() || session_->stopping()) return;
    const QStringList chosen = table_->chosenPorts();
    for (const QString& port : chosen)
        if (!session_->working(port)) session_->work(FleetPort{port, devices_.value(port), true});
    for (const QString& port : session_->busyPorts())
        if (!chosen.contains(port)) session_->release(port, SIGTERM);
}

void FleetWindow::startWork() {
    if (session_->started()) return;
    if (!QFileInfo::exists(cli_)) {
        setStatus(QStringLiteral("Не найдена программа %1: переустановите пакет.").arg(QDir::toNativeSeparators(cli_)));
        return;
    }
    doing_.clear();
    session_->start();
    syncWork();
    showState();
}

void FleetWindow::stopWork() {
    session_->stop(SIGTERM);
    showState();
}

void FleetWindow::onActivity(const QString& port, const PortActivity& now) {
    doing_.insert(port, now);
    table_->showActivity(port, now);
    sessionGuard_->update();
    showState();
}

void FleetWindow::onRunEnded(const QString& port, const PortRunRecord& run) {
    table_->showRun(port, run);
    if (!run.trace.isEmpty()) record_->noteTrace(run.device, run.address, run.trace);
    record_->refresh();
    if (!run.noStation) playOutcomeSound(outcomeWords(run.outcome, false).attention);
    sessionGuard_->update();
    showState();
}

void FleetWindow::onFinished() {
    doing_.clear();
    for (const QString& port : table_->portNames()) table_->clearActivity(port);
    showState();
    record_->refresh();
    refreshPorts();   // the rows of ports pulled out while worked on go now
    if (closeWhenDone_) close();
}

void FleetWindow::setStatus(const QString& text) {
    status_->setText(text);
    status_->setAccessibleName(text);
}

QString FleetWindow::statusText() const { return status_->text(); }

bool FleetWindow::writing() const {
    return std::any_of(doing_.begin(), doing_.end(), [](const PortActivity& now) { return now.inWrites(); });
}

// What the window does or waits for, in words.
void FleetWindow::showState() {
    start_->setEnabled(!session_->started());
    stop_->setEnabled(session_->started() && !session_->stopping());
    if (!session_->started()) {
        setStatus(table_->chosenPorts().isEmpty() ? QStringLiteral("Отметьте порты и нажмите «Начать».")
                                                  : QStringLiteral("Готово к работе: нажмите «Начать»."));
        return;
    }
    QStringList busy;
    for (const QString& port : session_->busyPorts()) {
        const auto now = doing_.find(port);
        const QString what = now == doing_.end() ? QString() : activityWords(*now);
        busy << (what.isEmpty() ? port : QStringLiteral("%1 (%2)").arg(port, what));
    }
    if (session_->stopping())
        setStatus(QStringLiteral("Остановка: ждём окончания работы на портах %1. Станцию, которая записывается, "
                                 "не отключайте.").arg(busy.join(QStringLiteral(", "))));
    else if (busy.isEmpty())
        setStatus(QStringLiteral("Работа идёт, но ни один порт не отмечен: отметьте порты."));
    else
        setStatus(QStringLiteral("Работа идёт: каждая подключённая станция программируется один раз. Порты: %1.")
                      .arg(busy.join(QStringLiteral(", "))));
}

void FleetWindow::closeEvent(QCloseEvent* event) {
    if (session_->started()) {
        closeWhenDone_ = true;
        stopWork();
        event->ignore();
        return;
    }
    saveChoice();
    event->accept();
}

// `rechannel-cli report --html FILE` writes the migration report; the window
// opens it in the browser.
void FleetWindow::writeReport() {
    const QString file = QDir(logDirectoryPath()).filePath(
        QStringLiteral("report-%1.html").arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss"))));
    auto* child = new QProcess(this);
    report_->setEnabled(false);
    setStatus(QStringLiteral("Составляется отчёт…"));
    connect(child, &QProcess::errorOccurred, this, [this, child](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart) return;
        setStatus(QStringLiteral("Отчёт не составлен: программа %1 не запускается.").arg(QDir::toNativeSeparators(cli_)));
        report_->setEnabled(true);
        child->deleteLater();
    });
    connect(child, &QProcess::finished, this, [this, child, file](int code, QProcess::ExitStatus status) {
        report_->setEnabled(true);
        child->deleteLater();
        const QString said = QString::fromUtf8(child->readAllStandardError()).trimmed().section(QLatin1Char('\n'), -1);
        if (status == QProcess::NormalExit && code == 0 && QFileInfo::exists(file)) {
            setStatus(QStringLiteral("Отчёт записан: %1").arg(QDir::toNativeSeparators(file)));
            QDesktopServices::openUrl(QUrl::fromLocalFile(file));
        } else if (code == 2) {
            setStatus(QStringLiteral("Эта версия rechannel-cli не составляет отчёт (команды report нет): %1").arg(said));
        } else {
            setStatus(QStringLiteral("Отчёт не составлен: %1").arg(said.isEmpty() ? QStringLiteral("ошибка") : said));
        }
    });
    child->start(cli_, {QStringLiteral("report"), QStringLiteral("--html"), file});
}
