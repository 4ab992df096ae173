#pragma once
// "Перевод парка станций": the fleet job in a window of its own. The ports
// discovery lists, each with a check box; "Начать" works every checked port
// as `rechannel-cli program --wait` does (each station that answers is
// programmed once, the next one plugged in is taken at once), "Остановить"
// and closing the window stop as the CLI stops (nothing new starts, a run
// before its first write stops, one in its writes finishes). Below, the
// day's record from the ledger.
#include <QHash>
#include <QMainWindow>
#include <QSet>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

#include "FleetSession.h"
#include "MigrationReport.h"
#include "PortActivity.h"
#include "PortDiscovery.h"
#include "Result.h"
#include "PortWorker.h"


class QCheckBox;
class SessionEndGuard;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;
class QUrl;
class DayRecord;
class FleetPortTable;
class PortWatcher;

class FleetWindow : public QMainWindow {
    Q_OBJECT
public:
    // `cli`: rechannel-cli, the program every run is a child of.
    explicit FleetWindow(const QString& cli, QWidget* parent = nullptr);
    ~FleetWindow() override;

    // The rechannel-cli beside the running program.
    static QString besideCli();

    FleetPortTable* ports() const { return table_; }
    DayRecord* record() const { return record_; }
    FleetSession* session() const { return session_; }
    QPushButton* startButton() const { return start_; }
    QPushButton* stopButton() const { return stop_; }
    QPushButton* reportButton() const { return report_; }
    QCheckBox* allPorts() const { return all_; }
    QLineEdit* matchEdit() const { return match_; }
    QString statusText() const;
    // A port's run is between its first write and its restart: the desktop
    // session should not end now.
    bool writing() const;

    // Lists the ports again (the watcher does it when they change).
    void refreshPorts();

    // How the window lists the ports: the system's discovery, or a test's.
    using Discovery = std::function<Result<QString>(PortList* found)>;
    void setDiscovery(Discovery discover);
    // How the window opens a page it wrote (the report): the desktop's
    // browser, or a test's. False when it could not be opened.
    using UrlOpener = std::function<bool(const QUrl& url)>;
    void setUrlOpener(UrlOpener open) { openUrl_ = std::move(open); }

protected:
    // While ports are worked on the window stops them first and closes once
    // every run has ended; a run in its writes is never cut short.
    void closeEvent(QCloseEvent* event) override;

private:
    void buildUi();
    void connectUi();
    void restoreChoice();
    void saveChoice() const;
    void showPorts();
    void syncWork();
    void startWork();
    void stopWork();
    void onRunEnded(const QString& port, const PortRunRecord& run);
    void onPortDone(const QString& port);
    void say(const QString& text);
    void onActivity(const QString& port, const PortActivity& now);
    void onFinished();
    void showState();
    void writeReport();
    void showReport(const QString& file, const ReportResult& result);
    void setStatus(const QString& text);

    QString cli_;
    Discovery discover_;
    UrlOpener openUrl_;
    bool portsUnlisted_ = false;      // the status line says the last listing failed
    PortList found_;                  // as discovery listed the ports last
    QHash<QString, QString> devices_; // port -> its device, as listed last
    FleetSession* session_ = nullptr;
    FleetPortTable* table_ = nullptr;
    DayRecord* record_ = nullptr;
    QCheckBox* all_ = nullptr;
    QLineEdit* match_ = nullptr;
    QPushButton* start_ = nullptr;
    QPushButton* stop_ = nullptr;
    QPushButton* report_ = nullptr;
    QLabel* status_ = nullptr;
    QLabel* said_ = nullptr;   // the children's last line for people
    PortWatcher* watcher_ = nullptr;
    QTimer* portPoll_ = nullptr;
    QHash<QString, PortActivity> doing_;   // port -> what it is doing now
    bool closeWhenDone_ = false;
    std::unique_ptr<SessionEndGuard> sessionGuard_;
};
