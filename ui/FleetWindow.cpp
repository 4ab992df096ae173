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
#include <QPushButton>
#include <QSettings>
#include <QSplitter>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <csignal>
#include <utility>

#include "BackgroundTask.h"
#include "DayRecord.h"
#include "FleetPortTable.h"
#include "FleetPorts.h"
#include "FleetSound.h"
#include "FleetWords.h"
#include "Ledger.h"
#include "LogDirectory.h"
#include "MigrationReport.h"
#include "PortWatcher.h"

namespace {

// A port change the watcher missed (a notification lost under load) is
// caught within this, as the CLI's fleet does.
constexpr int kPortPollMs = 3000;

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
    openUrl_ = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
    buildUi();
    restoreChoice();
    connectUi();
    refreshPorts();
    record_->watchLedger();
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
    portPoll_ = new QTimer(this);
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
    // A child's own lines (why a port did not open, the read-back
    // differences) are the command line's, in English, and kept in the run's
    // trace: the window says where. What the fleet could not write beside a
    // run is said in full. Each stays in view until the next.
    connect(session_, &FleetSession::message, this, [this](const QString& port) { say(childSaidWords(port)); });
    connect(session_, &FleetSession::problem, this,
            [this](const QString& port, const FleetProblem& problem) { say(problemWords(port, problem)); });
    connect(session_, &FleetSession::finished, this, &FleetWindow::onFinished);
    connect(session_, &FleetSession::portDone, this, &FleetWindow::onPortDone);
    connect(record_, &DayRecord::problem, this, &FleetWindow::setStatus);
    // Rows come and go as adapters are plugged in and pulled out.
    connect(watcher_, &PortWatcher::changed, this, &FleetWindow::refreshPorts);
    connect(portPoll_, &QTimer::timeout, this, &FleetWindow::refreshPorts);
    watcher_->start();
    portPoll_->start(kPortPollMs);
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
    if (const Result<QString> listed = discover_(&found); !listed) {
        setStatus(portListWords(listed.why()));
        portsUnlisted_ = true;
        return;
    }
    found_ = found;
    devices_.clear();
    QHash<QString, QString> names;   // a device, whatever path names it -> its row
    for (const FleetPortInfo& port : fleetPorts(found_, QString(), FleetTake::Shown)) {
        devices_.insert(port.name, port.devicePath);
        names.insert(deviceIdentity(port.devicePath), port.name);
        names.insert(port.name, port.name);   // a COM port's ledger lines name it so
    }
    // The record names another program's runs by the rows' names too.
    record_->setPortNames([names](const QString& ledgerPort) { return names.value(deviceIdentity(ledgerPort), ledgerPort); });
    session_->portsChanged();
    showPorts();
    if (std::exchange(portsUnlisted_, false)) showState();   // the failure is past
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
    const QString note = runNote(cli_, run);
    table_->showRun(port, run, note);
    if (!run.ledger) say(QStringLiteral("%1: %2").arg(port, note));   // the child did not start
    record_->addRun(port, run);
    if (!run.noStation) playOutcomeSound(outcomeWords(run.outcome, false).attention);
    sessionGuard_->update();
    showState();
}

// The port's work has ended (let go, stopped): it does nothing now, unless
// it was ticked again meanwhile and is worked anew. A port checked again
// while its last work was still stopping is taken now.
void FleetWindow::onPortDone(const QString& port) {
    if (!session_->working(port)) {
        doing_.remove(port);
        table_->clearActivity(port);
    }
    syncWork();
    showState();
}

void FleetWindow::onFinished() {
    doing_.clear();
    for (const QString& port : table_->portNames()) table_->clearActivity(port);
    showState();
    refreshPorts();   // the rows of ports pulled out while worked on go now
    if (closeWhenDone_) close();
}

void FleetWindow::setStatus(const QString& text) {
    status_->setText(text);
    status_->setAccessibleName(text);
}

QString FleetWindow::statusText() const { return status_->text(); }

void FleetWindow::say(const QString& text) {
    said_->setText(text);
    said_->setAccessibleName(text);
}

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

// The migration report of this computer's ledger, made in this process on
// a thread of its own (MigrationReport.h); the page opens whenever it was
// written, also when an input could not be read, and every problem is said.
void FleetWindow::writeReport() {
    ReportRequest request;   // no inputs: the user's own ledger
    request.htmlFile = QDir(logDirectoryPath()).filePath(
        QStringLiteral("report-%1.html").arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss"))));
    report_->setEnabled(false);
    setStatus(QStringLiteral("Составляется отчёт…"));
    runInBackground<ReportResult>(
        this, [request] { return makeReport(request); },
        [this, file = request.htmlFile](const ReportResult& result) { showReport(file, result); });
}

void FleetWindow::showReport(const QString& file, const ReportResult& result) {
    report_->setEnabled(true);
    // Only the page was asked for: it was written unless a file was not.
    const bool written = result.filesWritten && QFileInfo::exists(file);
    const bool opened = written && openUrl_(QUrl::fromLocalFile(file));
    setStatus(reportWords(file, ledger::path(), result, written, opened));
}
