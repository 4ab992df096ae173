#include "MainWindow.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QStringList>
#include <exception>
#include <string>

#include "JobMessages.h"
#include "LogDirectory.h"
#include "MainWindowUi.h"
#include "PortNames.h"
#include "SessionEndGuard.h"
#include "PortOpenFailure.h"
#include "StationFiles.h"
#include "StationRecord.h"
#include "Trace.h"
#include "WorkThread.h"

namespace {
constexpr unsigned long kSuccessWaitMs = 5000;

QString successTitle() { return QString::fromUtf8("Успех"); }
QString noPortChosen() { return QString::fromUtf8("COM-порт не выбран."); }
QString portListChanged() {
    return QString::fromUtf8("Список COM-портов изменился. Выберите порт ещё раз.");
}

// A device left out of the list is said in the trace.
void realDiscovery(PortList& list, bool probe) {
    DiscoveryNotes notes;
    discoverPorts(list, probe, &notes);
    for (const std::wstring& note : notes) traceStream() << QString::fromStdWString(note).toStdString() << std::endl;
}
}  // namespace

MainWindow::MainWindow(QWidget* parent, PortDiscoveryFn discover)
    : QMainWindow(parent), discover_(discover ? std::move(discover) : PortDiscoveryFn(realDiscovery)) {
    ui_ = new MainWindowUi();
    ui_->setupUi(this);
    thread_ = new WorkThread();

    connect(ui_->BRefresh, SIGNAL(clicked()), this, SLOT(onBRefreshClick()));
    connect(ui_->BStart, SIGNAL(clicked()), this, SLOT(onBStartReadClick()));
    connect(thread_, SIGNAL(onErr(QString, int)), this, SLOT(onErr(QString, int)));
    connect(thread_, SIGNAL(onReadStationParam()), this, SLOT(onReadStationParam()));
    connect(ui_->action_open, SIGNAL(triggered()), this, SLOT(onOpen()));
    // The outcome as emitted, for a run whose queued signal the window will
    // not live to handle: its ledger line is still written.
    connect(
        thread_, &WorkThread::onErr, this, [this] { recordOutcome(thread_->result()); }, Qt::DirectConnection);
    connect(
        thread_, &WorkThread::onReadStationParam, this, [this] { recordOutcome(thread_->result()); },
        Qt::DirectConnection);
    connect(ui_->CBCom, &QComboBox::activated, this, [this](int index) { choosePort(index); });
    // The window is as careful as rechannel-cli: the writes are read back,
    // and nothing is written without a backup of the station.
    thread_->setVerifyWrites(true);
    thread_->setBackupPolicy(BackupPolicy::Required);
    // The outcome is emitted before run() has closed the port and returned;
    // a press in between would find the thread still running, and starting a
    // running thread does nothing: that press would get no outcome at all.
    connect(thread_, &QThread::finished, this, [this] { runPartDone(); });
    // The session may not end between the first write and the run's end.
    sessionGuard_ = std::make_unique<SessionEndGuard>(this, [thread = thread_] { return thread->writing(); });
    connect(thread_, &WorkThread::writePhaseChanged, this, [this] { sessionGuard_->update(); });

    onBRefreshClick();
}

MainWindow::~MainWindow() {
    if (thread_->isRunning()) thread_->wait();
    sessionGuard_.reset();   // its reason goes with the window's handle
    if (ledger_.running()) {
        // Closed before the run's outcome was handled: the run still ends
        // with its line, as the job thread reported it.
        RunResult result;
        {
            std::lock_guard<std::mutex> lock(outcomeMutex_);
            if (outcomeRecorded_) result = recordedOutcome_;
        }
        logRun(result);
    }
    delete thread_;
    delete ui_;
    StationRecord::destroy();
}

bool MainWindow::discover(PortList& list) {
    // A failed discovery must not take the window down: the operator sees
    // why and gets an empty list.
    try {
        discover_(list, false);
        return true;
    } catch (const std::wstring& message) {
        showBox(QMessageBox::Warning, tr("Warning"), QString::fromStdWString(message));
    } catch (const std::exception& error) {
        showBox(QMessageBox::Warning, tr("Warning"), QString::fromLocal8Bit(error.what()));
    }
    list.clear();
    return false;
}

void MainWindow::onBRefreshClick() {
    PortList list;
    const bool found = discover(list);
    ui_->CBCom->clear();
    for (std::size_t i = 0; i < list.size(); ++i)
        ui_->CBCom->addItem(QString::fromStdWString(list[i].displayName), static_cast<unsigned>(i));
    // Never silently another port than the one the operator chose.
    int current = -1;
    if (choice_ == PortChoice::Preselected && found) {
        current = preselectedIndex(list);
    } else if (choice_ == PortChoice::Chosen) {
        current = ui_->CBCom->findText(chosenPort_, Qt::MatchExactly | Qt::MatchCaseSensitive);
        if (current < 0) {
            choice_ = PortChoice::Lost;
            chosenPort_.clear();
        }
    }
    if (choice_ != PortChoice::Preselected || current >= 0) ui_->CBCom->setCurrentIndex(current);
    if (runPartsLeft_ == 0 && !closeWhenDone_) ui_->BStart->setEnabled(choice_ != PortChoice::Lost);
}

void MainWindow::choosePort(int index) {
    if (index < 0) return;
    choice_ = PortChoice::Chosen;
    chosenPort_ = ui_->CBCom->itemText(index);
    if (runPartsLeft_ == 0 && !closeWhenDone_) ui_->BStart->setEnabled(true);
}

void MainWindow::onBStartReadClick() {
    const int index = ui_->CBCom->currentIndex();
    // The port a run was started on is the operator's choice from then on.
    if (index >= 0) choosePort(index);
    PortList fresh;
    if (!discover(fresh)) {
        ui_->CBCom->clear();
        return;
    }
    // The index chooses an entry of the fresh list. When that list no longer
    // holds the port the operator chose, nothing is started: programming
    // another station than the one chosen would be worse than not at all.
    if (index < 0) {
        showBox(QMessageBox::Warning, tr("Warning"), noPortChosen());
        onBRefreshClick();
        return;
    }
    if (static_cast<std::size_t>(index) >= fresh.size() ||
        QString::fromStdWString(fresh[static_cast<std::size_t>(index)].displayName) != ui_->CBCom->itemText(index)) {
        showBox(QMessageBox::Warning, tr("Warning"), portListChanged());
        onBRefreshClick();
        return;
    }

    // The controls are held until the last run has ended, so this only
    // waits for a thread that is already past its outcome.
    if (thread_->isRunning()) thread_->wait();
    setControlsEnabled(false);
    // Its outcome and the end of its thread. The end of the last run may not
    // have been handled yet (its notice is queued behind this press): it
    // still counts for that run, not for this one.
    runPartsLeft_ += 2;
    {
        std::lock_guard<std::mutex> lock(outcomeMutex_);
        outcomeRecorded_ = false;
    }
    thread_->clearStopRequest();
    // A device-setup entry is opened as \\.\COMn and recorded as COMn.
    const std::wstring path = openPath(fresh[static_cast<std::size_t>(index)]);
    thread_->setPortPath(path);
    ledger_.begin(QString::fromStdWString(shownPortName(path)));
    thread_->start(QThread::InheritPriority);
}

void MainWindow::onErr(const QString& err_text, int err) {
    const bool ofRun = ledger_.running();
    // Read only after the run has emitted it; the next run starts from here.
    const RunResult& result = thread_->result();
    logRun(result);
    // Why, as rechannel-cli says it: the box keeps the service's text.
    if (ofRun && err == job_messages::kCodePortNotOpened)
        traceStream() << "The port could not be opened: "
                      << diagnosePortOpen(thread_->getPortPath()).text().toStdString() << std::endl;
    // The outcomes the station service did not have carry their code, as
    // rechannel-cli's outcome line does.
    const QString shown = showsCode(result) ? QStringLiteral("%1 (%2)").arg(err_text).arg(err)
                                                            : err_text;
    if (err == job_messages::kCodeAlreadyMoved)
        showBox(QMessageBox::Information, tr("Info"), shown);
    else
        showBox(QMessageBox::Warning, tr("Warning"), shown);
    runPartDone();
}

void MainWindow::onReadStationParam() {
    logRun(RunResult{RunOutcome::Moved, QString(), 0, false});
    showBox(QMessageBox::Information, successTitle(), job_messages::moved());
    thread_->wait(kSuccessWaitMs);
    runPartDone();
}

void MainWindow::onOpen() {
    QFileDialog dialog(nullptr, QString(), QString(), QString());
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilter(QStringLiteral("xml (*.xml)"));
    dialog.setViewMode(QFileDialog::List);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setDirectory(logDirectoryPath());
    if (dialog.exec() != QDialog::Accepted) return;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty()) return;
    loadStationFile(files.first());
    onReadStationParam();
}

void MainWindow::onTest() { showBox(QMessageBox::Warning, tr("Warning"), QStringLiteral("Test")); }

void MainWindow::runPartDone() {
    if (--runPartsLeft_ > 0) return;
    runPartsLeft_ = 0;   // also a success box from the open action, with no run
    if (closeWhenDone_) {
        close();   // asked for while the station was being written
        return;
    }
    setControlsEnabled(true);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // Before the first write the run is stopped and the window goes; the
    // destructor waits for the run and writes its line. From the first write
    // to the restart the station must not be left half-moved.
    if (runPartsLeft_ > 0 && !thread_->requestStopBeforeWrites()) {
        closeWhenDone_ = true;
        setControlsEnabled(false);
        event->ignore();
        return;
    }
    event->accept();
}

void MainWindow::recordOutcome(const RunResult& result) {
    std::lock_guard<std::mutex> lock(outcomeMutex_);
    outcomeRecorded_ = true;
    recordedOutcome_ = result;
}

void MainWindow::logRun(const RunResult& result) {
    const QString error = ledger_.finish(*thread_, result);
    if (!error.isEmpty()) traceStream() << error.toStdString() << std::endl;
}

void MainWindow::setControlsEnabled(bool enabled) {
    ui_->CBCom->setEnabled(enabled);
    ui_->BRefresh->setEnabled(enabled);
    // Until the operator chooses again, there is no port to program.
    ui_->BStart->setEnabled(enabled && choice_ != PortChoice::Lost);
}

void MainWindow::showBox(QMessageBox::Icon icon, const QString& title, const QString& text) {
    // Modal, a single OK button, no default button set.
    QMessageBox box(icon, title, text, QMessageBox::Ok, this);
    box.exec();
}
