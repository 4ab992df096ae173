#pragma once
// The program's only window: the port list, the refresh button and the
// programming button. It owns the work thread, starts one job per press and
// shows the job's single outcome in a message box.

#include <QMainWindow>
#include <QMessageBox>
#include <QString>
#include <functional>
#include <memory>
#include <mutex>

#include "PortDiscovery.h"
#include "RunLedger.h"

class MainWindowUi;
class SessionEndGuard;
class QCloseEvent;
class WorkThread;

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    // How the window lists ports; the machine's own discovery unless a test
    // hands in another. It throws its failure as the message text.
    using PortDiscoveryFn = std::function<void(PortList& list, bool probe)>;

    explicit MainWindow(QWidget* parent = nullptr, PortDiscoveryFn discover = PortDiscoveryFn());
    ~MainWindow() override;

    WorkThread* workThread() const { return thread_; }
    const SessionEndGuard& sessionEndGuard() const { return *sessionGuard_; }

public slots:
    void onBRefreshClick();
    void onBStartReadClick();
    void onErr(const QString& err_text, int err);
    void onReadStationParam();
    void onOpen();
    void onTest();

protected:
    // During a run: before its first write the run is stopped and the window
    // closes; from the first write on it stays open until the run has ended.
    void closeEvent(QCloseEvent* event) override;

private:
    // Which port the list shows as current: the preselection until the
    // operator chooses one; then that one, by name, across refreshes; none
    // once it has gone from the list, until the operator chooses again.
    enum class PortChoice { Preselected, Chosen, Lost };

    // Runs discovery; on failure shows its message and returns false.
    bool discover(PortList& list);
    void setControlsEnabled(bool enabled);
    // The controls come back once the run's outcome has been handled and its
    // thread has ended, in whichever order the two arrive.
    void runPartDone();
    void showBox(QMessageBox::Icon icon, const QString& title, const QString& text);
    // Appends the run's ledger line before its outcome is shown.
    void logRun(const RunResult& result);
    void choosePort(int index);
    // The outcome as the job thread emitted it, kept for a run whose queued
    // signal is never handled (the window closed before it came).
    void recordOutcome(const RunResult& result);

    MainWindowUi* ui_ = nullptr;
    WorkThread* thread_ = nullptr;
    PortDiscoveryFn discover_;
    int runPartsLeft_ = 0;
    RunLedger ledger_;
    PortChoice choice_ = PortChoice::Preselected;
    QString chosenPort_;
    bool closeWhenDone_ = false;
    std::mutex outcomeMutex_;
    bool outcomeRecorded_ = false;
    RunResult recordedOutcome_;
    std::unique_ptr<SessionEndGuard> sessionGuard_;
};
