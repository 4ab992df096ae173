// The main window: its widget tree and texts, its slots and connections, the
// preselection of a port, the outcome boxes, the control state through a
// run, the two faults it guards against, and the open action.

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QImage>
#include <QLineEdit>
#include <QMenuBar>
#include <QMetaMethod>
#include <QPointer>
#include <QPushButton>
#include <QSpacerItem>
#include <QStatusBar>
#include <QTest>
#include <QVBoxLayout>

#include "JobMessages.h"
#include "LogDirectory.h"
#include "MainWindow.h"
#include "ScriptedDiscovery.h"
#include "StationRecord.h"
#include "TestSupport.h"
#include "TraceCapture.h"
#include "WorkThread.h"

namespace {

const QString kTitle = QString::fromUtf8("Утилита изменения частотного канала РЛ ЗАО");

struct Window {
    explicit Window(std::vector<DiscoveryAnswer> answers) : script(std::make_shared<DiscoveryScript>()) {
        script->answers = std::move(answers);
        StationRecord::create();
        window = std::make_unique<MainWindow>(nullptr, scriptedDiscovery(script));
        combo = window->findChild<QComboBox*>("CBCom");
        refresh = window->findChild<QPushButton*>("BRefresh");
        start = window->findChild<QPushButton*>("BStart");
    }
    ~Window() {
        if (window && window->workThread()->isRunning()) window->workThread()->wait();
    }

    bool controlsEnabled() const { return combo->isEnabled() && refresh->isEnabled() && start->isEnabled(); }
    bool controlsDisabled() const { return !combo->isEnabled() && !refresh->isEnabled() && !start->isEnabled(); }
    QStringList items() const {
        QStringList texts;
        for (int i = 0; i < combo->count(); ++i) texts << combo->itemText(i);
        return texts;
    }

    std::shared_ptr<DiscoveryScript> script;
    std::unique_ptr<MainWindow> window;
    QComboBox* combo = nullptr;
    QPushButton* refresh = nullptr;
    QPushButton* start = nullptr;
};

// Both sides go through a pixmap, so they are compared in the same pixel format.
QImage resourceImage(const char* path) { return QPixmap(QString::fromLatin1(path)).toImage(); }

QImage iconImage(const QIcon& icon) { return icon.pixmap(QSize(32, 32)).toImage(); }

void expectSingleOkBox(const SeenModal& seen, QMessageBox::Icon icon, const QString& title, const QString& text) {
    EXPECT_EQ(seen.className, "QMessageBox");
    EXPECT_EQ(seen.icon, icon);
    EXPECT_EQ(seen.title, title);
    EXPECT_EQ(seen.text, text);
    EXPECT_EQ(seen.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    EXPECT_EQ(seen.buttonCount, 1);
    EXPECT_FALSE(seen.hasDefaultButton);
}

}  // namespace

TEST(MainWindowTree, ObjectsSizesPoliciesAndTexts) {
    Window w({portsNamed({L"Only port"})});
    MainWindow& win = *w.window;

    EXPECT_EQ(win.objectName(), "MainWindow");
    EXPECT_EQ(win.windowTitle(), kTitle);
    EXPECT_EQ(win.size(), QSize(500, 187));
    EXPECT_EQ(win.maximumSize(), QSize(500, 200));
    EXPECT_EQ(win.sizePolicy().horizontalPolicy(), QSizePolicy::Minimum);
    EXPECT_EQ(win.sizePolicy().verticalPolicy(), QSizePolicy::Preferred);
    EXPECT_FALSE(win.documentMode());
    EXPECT_FALSE(win.isDockNestingEnabled());
    ASSERT_FALSE(resourceImage(":/image/image/wlassistant_4408.png").isNull());
    EXPECT_EQ(resourceImage(":/image/image/wlassistant_4408.png").size(), QSize(32, 32));
    EXPECT_EQ(iconImage(win.windowIcon()), resourceImage(":/image/image/wlassistant_4408.png"));

    auto* action = win.findChild<QAction*>("action_open");
    ASSERT_NE(action, nullptr);
    EXPECT_EQ(action->text(), QString::fromUtf8("Открыть"));
    EXPECT_TRUE(action->shortcut().isEmpty());
    EXPECT_TRUE(action->associatedObjects().isEmpty()) << "in no menu and no toolbar";

    QWidget* central = win.centralWidget();
    ASSERT_NE(central, nullptr);
    EXPECT_EQ(central->objectName(), "centralWidget");
    auto* vertical = qobject_cast<QVBoxLayout*>(central->layout());
    ASSERT_NE(vertical, nullptr);
    EXPECT_EQ(vertical->objectName(), "verticalLayout");
    EXPECT_EQ(vertical->spacing(), 6);
    EXPECT_EQ(vertical->contentsMargins(), QMargins(11, 11, 11, 11));

    auto* group = win.findChild<QGroupBox*>("groupBox");
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(group->parentWidget(), central);
    EXPECT_EQ(vertical->count(), 1);
    EXPECT_EQ(vertical->itemAt(0)->widget(), group);
    EXPECT_TRUE(group->title().isEmpty());
    auto* vertical3 = qobject_cast<QVBoxLayout*>(group->layout());
    ASSERT_NE(vertical3, nullptr);
    EXPECT_EQ(vertical3->objectName(), "verticalLayout_3");
    EXPECT_EQ(vertical3->spacing(), 6);
    EXPECT_EQ(vertical3->contentsMargins(), QMargins(11, 11, 11, 11));
    ASSERT_EQ(vertical3->count(), 2);

    auto* row1 = qobject_cast<QHBoxLayout*>(vertical3->itemAt(0)->layout());
    ASSERT_NE(row1, nullptr);
    EXPECT_EQ(row1->objectName(), "horizontalLayout_2");
    EXPECT_EQ(row1->spacing(), 6);
    ASSERT_EQ(row1->count(), 3);
    for (int i : {0, 2}) {
        QSpacerItem* spacer = row1->itemAt(i)->spacerItem();
        ASSERT_NE(spacer, nullptr) << i;
        EXPECT_EQ(spacer->sizeHint(), QSize(40, 20));
        EXPECT_EQ(spacer->sizePolicy().horizontalPolicy(), QSizePolicy::Expanding);
        EXPECT_EQ(spacer->sizePolicy().verticalPolicy(), QSizePolicy::Minimum);
    }
    EXPECT_EQ(row1->itemAt(1)->widget(), w.start);

    ASSERT_NE(w.start, nullptr);
    EXPECT_EQ(w.start->parentWidget(), group);
    EXPECT_EQ(w.start->text(), QString::fromUtf8("Запрограммировать"));
    EXPECT_EQ(w.start->toolTip(), QString::fromUtf8("Запрограммировать"));
    EXPECT_EQ(w.start->sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
    EXPECT_EQ(w.start->sizePolicy().verticalPolicy(), QSizePolicy::Fixed);
    EXPECT_EQ(w.start->minimumSize(), QSize(200, 35));
    EXPECT_EQ(w.start->iconSize(), QSize(32, 32));
    EXPECT_TRUE(w.start->icon().isNull());
    EXPECT_FALSE(w.start->isCheckable());
    EXPECT_FALSE(w.start->autoRepeat());
    EXPECT_FALSE(w.start->isFlat());

    auto* row2 = qobject_cast<QHBoxLayout*>(vertical3->itemAt(1)->layout());
    ASSERT_NE(row2, nullptr);
    EXPECT_EQ(row2->objectName(), "horizontalLayout_7");
    EXPECT_EQ(row2->spacing(), 6);
    ASSERT_EQ(row2->count(), 2);
    EXPECT_EQ(row2->itemAt(0)->widget(), w.combo);
    EXPECT_EQ(row2->itemAt(1)->widget(), w.refresh);

    ASSERT_NE(w.combo, nullptr);
    EXPECT_EQ(w.combo->parentWidget(), group);
    EXPECT_EQ(w.combo->minimumSize(), QSize(400, 0));

    ASSERT_NE(w.refresh, nullptr);
    EXPECT_EQ(w.refresh->parentWidget(), group);
    EXPECT_TRUE(w.refresh->text().isEmpty());
    EXPECT_EQ(w.refresh->toolTip(), QString::fromUtf8("Обновить список COM портов"));
    EXPECT_EQ(w.refresh->sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
    EXPECT_EQ(w.refresh->sizePolicy().verticalPolicy(), QSizePolicy::Fixed);
    EXPECT_EQ(w.refresh->minimumSize(), QSize(30, 30));
    EXPECT_EQ(w.refresh->maximumSize(), QSize(30, 30));
    EXPECT_EQ(w.refresh->iconSize(), QSize(24, 24));
    EXPECT_TRUE(w.refresh->isFlat());
    EXPECT_EQ(iconImage(w.refresh->icon()), resourceImage(":/image/image/adept_update_1970.png"));
    EXPECT_NE(resourceImage(":/image/image/adept_update_1970.png"), resourceImage(":/image/image/wlassistant_4408.png"));

    auto* status = win.findChild<QStatusBar*>("statusBar");
    ASSERT_NE(status, nullptr);
    EXPECT_EQ(win.statusBar(), status);
    EXPECT_TRUE(status->currentMessage().isEmpty());
    auto* menu = win.findChild<QMenuBar*>("menuBar");
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(win.menuBar(), menu);
    EXPECT_EQ(menu->geometry(), QRect(0, 0, 500, 20));
    EXPECT_TRUE(menu->actions().isEmpty()) << "the menu bar stays empty";

    EXPECT_NE(win.workThread(), nullptr);
    EXPECT_EQ(win.workThread()->parent(), nullptr);
    EXPECT_FALSE(win.workThread()->isRunning()) << "only the button starts the thread";
}

TEST(MainWindowMetaObject, SixPublicSlotsInOrderAndNoSignals) {
    const QMetaObject& meta = MainWindow::staticMetaObject;
    EXPECT_STREQ(meta.className(), "MainWindow");
    QStringList slotNames;
    int signalCount = 0;
    for (int i = meta.methodOffset(); i < meta.methodCount(); ++i) {
        const QMetaMethod method = meta.method(i);
        if (method.methodType() == QMetaMethod::Signal) ++signalCount;
        if (method.methodType() != QMetaMethod::Slot) continue;
        EXPECT_EQ(method.access(), QMetaMethod::Public) << method.methodSignature().constData();
        slotNames << QString::fromLatin1(method.methodSignature());
    }
    EXPECT_EQ(slotNames, (QStringList{"onBRefreshClick()", "onBStartReadClick()", "onErr(QString,int)",
                                  "onReadStationParam()", "onOpen()", "onTest()"}));
    EXPECT_EQ(signalCount, 0);
}

TEST(MainWindowConnections, ButtonsActionAndThreadSignalsReachTheirSlots) {
    Window w({portsNamed({L"A", L"B"}), portsNamed({L"A", L"B", L"C"})});
    ASSERT_EQ(w.script->calls, 1) << "the constructor fills the list";
    EXPECT_EQ(w.script->probes, std::vector<bool>{false}) << "the window never probes";

    w.refresh->click();
    EXPECT_EQ(w.script->calls, 2);
    EXPECT_EQ(w.items(), (QStringList{"A", "B", "C"}));

    {   // the thread's outcome signals
        ModalCloser closer;
        emit w.window->workThread()->onErr(QStringLiteral("moved already"), 1000);
        emit w.window->workThread()->onReadStationParam();
        ASSERT_EQ(closer.seen().size(), 2u);
        EXPECT_EQ(closer.seen()[0].title, "Info");
        EXPECT_EQ(closer.seen()[0].text, "moved already");
        EXPECT_EQ(closer.seen()[1].title, QString::fromUtf8("Успех"));
    }
    {   // the diagnostics' signals are connected to nothing
        ModalCloser closer;
        emit w.window->workThread()->onReadStatus();
        emit w.window->workThread()->onReadRouteTable();
        EXPECT_TRUE(closer.seen().empty());
    }
    {   // the open action brings up the file dialog
        ModalCloser closer;
        w.window->findChild<QAction*>("action_open")->trigger();
        ASSERT_EQ(closer.seen().size(), 1u);
        EXPECT_EQ(closer.seen()[0].className, "QFileDialog");
    }
}

TEST(MainWindowPreselection, NoneOneSeveralAndTheFirstTusb) {
    {
        Window w({PortList{}});
        EXPECT_EQ(w.combo->count(), 0);
        EXPECT_EQ(w.combo->currentIndex(), -1);
    }
    {
        Window w({portsNamed({L"Communications Port (COM1)"})});
        EXPECT_EQ(w.combo->currentIndex(), 0);
    }
    {
        Window w({portsNamed({L"COM1", L"COM2", L"COM3"})});
        EXPECT_EQ(w.items(), (QStringList{"COM1", "COM2", "COM3"}));
        EXPECT_EQ(w.combo->currentIndex(), 0);
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(w.combo->itemData(i).typeId(), QMetaType::UInt);
            EXPECT_EQ(w.combo->itemData(i).toUInt(), static_cast<unsigned>(i));
            EXPECT_TRUE(w.combo->itemIcon(i).isNull());
        }
    }
    {
        Window w({portsNamed({L"COM1", L"TUSB3410 Device (COM3)", L"COM4", L"TUSB3410 Device (COM5)"})});
        EXPECT_EQ(w.combo->currentIndex(), 1);
    }
    {
        Window w({portsNamed({L"COM1", L"tusb3410 device (COM3)", L"COM4"})});
        EXPECT_EQ(w.combo->currentIndex(), 0);
    }
    {   // a refresh before any choice preselects afresh
        Window w({portsNamed({L"COM1", L"COM2"}), portsNamed({L"COM1", L"COM2", L"TUSB (ttyUSB0)"})});
        w.refresh->click();
        EXPECT_EQ(w.combo->currentIndex(), 2);
    }
}

TEST(MainWindowBoxes, KindByCodeAndControlsEnabledAfterClosing) {
    Window w({portsNamed({L"A"})});
    for (int code : {1000, 1, 255, -1, -2, 6, 7}) {
        for (QWidget* c : std::initializer_list<QWidget*>{w.combo, w.refresh, w.start}) c->setEnabled(false);
        ModalCloser closer;
        closer.setHandler([&](QWidget*, SeenModal& seen) { seen.controlsEnabled = !w.controlsDisabled(); });
        w.window->onErr(QStringLiteral("text %1").arg(code), code);
        ASSERT_EQ(closer.seen().size(), 1u) << code;
        const SeenModal& seen = closer.seen()[0];
        if (code == 1000)
            expectSingleOkBox(seen, QMessageBox::Information, "Info", "text 1000");
        else
            expectSingleOkBox(seen, QMessageBox::Warning, "Warning", QStringLiteral("text %1").arg(code));
        EXPECT_FALSE(seen.controlsEnabled) << "controls stay disabled while the box is open, code " << code;
        EXPECT_TRUE(w.controlsEnabled()) << code;
    }

    for (QWidget* c : std::initializer_list<QWidget*>{w.combo, w.refresh, w.start}) c->setEnabled(false);
    {
        ModalCloser closer;
        closer.setHandler([&](QWidget*, SeenModal& seen) { seen.controlsEnabled = !w.controlsDisabled(); });
        w.window->onReadStationParam();
        ASSERT_EQ(closer.seen().size(), 1u);
        expectSingleOkBox(closer.seen()[0], QMessageBox::Information, QString::fromUtf8("Успех"),
                          QString::fromUtf8("Станция переведена на новую частоту!"));
        EXPECT_FALSE(closer.seen()[0].controlsEnabled) << "controls stay disabled while the success box is open";
        EXPECT_TRUE(w.controlsEnabled());
    }

    ModalCloser testBox;
    w.window->onTest();
    ASSERT_EQ(testBox.seen().size(), 1u);
    expectSingleOkBox(testBox.seen()[0], QMessageBox::Warning, "Warning", "Test");
}

TEST(MainWindowRun, ControlsFollowTheWorkThreadThroughARun) {
    // The port is chosen by index in a fresh discovery; its device path is
    // the fresh one. None of these paths opens, so the run ends with code 1.
    Window w({portsNamed({L"A", L"B", L"C"}, L"/nowhere/first-"), portsNamed({L"A", L"B", L"C"}, L"/nowhere/fresh-")});
    w.window->show();
    w.combo->setCurrentIndex(1);
    ModalCloser closer;
    closer.setHandler([&](QWidget*, SeenModal& seen) {
        seen.controlsEnabled = !w.controlsDisabled();
        EXPECT_TRUE(w.controlsDisabled());
    });

    TraceCapture trace;
    QTest::mouseClick(w.start, Qt::LeftButton);
    EXPECT_EQ(w.script->calls, 2);
    EXPECT_TRUE(w.controlsDisabled());
    EXPECT_EQ(w.window->workThread()->getPortPath(), L"/nowhere/fresh-1");
    EXPECT_EQ(w.items(), (QStringList{"A", "B", "C"})) << "the fresh list replaces nothing in the combo box";
    EXPECT_EQ(w.combo->currentIndex(), 1);

    ASSERT_TRUE(waitUntil([&] { return closer.boxCount() == 1 && w.controlsEnabled(); }, 30000));
    expectSingleOkBox(closer.seen()[0], QMessageBox::Warning, "Warning", job_messages::portNotOpened());
    EXPECT_FALSE(closer.seen()[0].controlsEnabled);
    EXPECT_TRUE(w.window->workThread()->wait(10000));
    EXPECT_EQ(closer.boxCount(), 1) << "one outcome per run";
    EXPECT_EQ(trace.lines(), std::vector<std::string>{"The port could not be opened: no such device: "
                                                      "/nowhere/fresh-1 (is the adapter plugged in?)"})
        << "the trace says why";
}

TEST(MainWindowRun, DestructionWaitsForARunningThreadAndReleasesTheStationRecord) {
    auto w = std::make_unique<Window>(std::vector<DiscoveryAnswer>{portsNamed({L"A"})});
    QPointer<WorkThread> thread = w->window->workThread();
    w->start->click();
    ASSERT_TRUE(thread->isRunning());
    ModalCloser closer;
    w->window.reset();   // waits for the run (about two seconds) before deleting the thread
    EXPECT_TRUE(thread.isNull());
    EXPECT_EQ(StationRecord::instance(), nullptr);
    QCoreApplication::processEvents();
    EXPECT_TRUE(closer.seen().empty()) << "the outcome of a run nobody waits for any more is dropped";
}

TEST(MainWindowFaults, DiscoveryFailureShowsItsTextAndLeavesTheListEmpty) {
    const std::wstring failure = L"SetupDiEnumDeviceInterfaces failed (err=8)";
    {   // in the constructor
        ModalCloser closer;
        Window w({failure, portsNamed({L"A"})});
        ASSERT_EQ(closer.seen().size(), 1u);
        expectSingleOkBox(closer.seen()[0], QMessageBox::Warning, "Warning", QString::fromStdWString(failure));
        EXPECT_EQ(w.combo->count(), 0);
        EXPECT_TRUE(w.controlsEnabled());
    }
    {   // on refresh
        Window w({portsNamed({L"A", L"B"}), failure});
        ModalCloser closer;
        w.refresh->click();
        ASSERT_EQ(closer.seen().size(), 1u);
        EXPECT_EQ(closer.seen()[0].text, QString::fromStdWString(failure));
        EXPECT_EQ(w.combo->count(), 0);
    }
    {   // on start: nothing is started
        Window w({portsNamed({L"A", L"B"}), L"Could not get OS version. (err=5)"});
        ModalCloser closer;
        w.start->click();
        ASSERT_EQ(closer.seen().size(), 1u);
        EXPECT_EQ(closer.seen()[0].text, "Could not get OS version. (err=5)");
        EXPECT_FALSE(w.window->workThread()->isRunning());
        EXPECT_TRUE(w.window->workThread()->getPortPath().empty());
        EXPECT_TRUE(w.controlsEnabled());
        EXPECT_EQ(w.combo->count(), 0);
    }
}

TEST(MainWindowFaults, StartWithoutAPortTheFreshListHoldsDoesNotRun) {
    {   // no current item
        Window w({PortList{}, PortList{}, portsNamed({L"New"})});
        ModalCloser closer;
        w.start->click();
        ASSERT_EQ(closer.seen().size(), 1u);
        EXPECT_EQ(closer.seen()[0].title, "Warning");
        EXPECT_EQ(closer.seen()[0].icon, QMessageBox::Warning);
        EXPECT_FALSE(w.window->workThread()->isRunning());
        EXPECT_TRUE(w.window->workThread()->getPortPath().empty());
        EXPECT_TRUE(w.controlsEnabled());
        EXPECT_EQ(w.script->calls, 3) << "the list is refreshed";
        EXPECT_EQ(w.items(), QStringList{"New"});
    }
    {   // the fresh list is shorter than the chosen index: the chosen port is gone
        Window w({portsNamed({L"A", L"B", L"C"}), portsNamed({L"A"})});
        w.combo->setCurrentIndex(2);
        ModalCloser closer;
        w.start->click();
        ASSERT_EQ(closer.seen().size(), 1u);
        EXPECT_EQ(closer.seen()[0].icon, QMessageBox::Warning);
        EXPECT_FALSE(w.window->workThread()->isRunning());
        EXPECT_TRUE(w.window->workThread()->getPortPath().empty());
        EXPECT_TRUE(w.combo->isEnabled() && w.refresh->isEnabled());
        EXPECT_FALSE(w.start->isEnabled()) << "no port is chosen until the operator chooses one";
        EXPECT_EQ(w.combo->currentIndex(), -1);
        EXPECT_EQ(w.items(), QStringList{"A"});
    }
    {   // another port now holds the chosen index
        Window w({portsNamed({L"A", L"B"}), portsNamed({L"A", L"Other"})});
        w.combo->setCurrentIndex(1);
        ModalCloser closer;
        w.start->click();
        ASSERT_EQ(closer.seen().size(), 1u);
        EXPECT_FALSE(w.window->workThread()->isRunning());
        EXPECT_EQ(w.items(), (QStringList{"A", "Other"}));
    }
}

TEST(MainWindowOpen, CancelChangesNothingAndShowsNoBox) {
    QDir().mkpath(logDirectoryPath());
    Window w({portsNamed({L"A"})});
    StationRecord::instance()->params()[2] = 0x5A;
    ModalCloser closer;
    closer.setHandler([](QWidget* modal, SeenModal&) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->parentWidget(), nullptr);
        EXPECT_EQ(dialog->fileMode(), QFileDialog::ExistingFile);
        EXPECT_EQ(dialog->nameFilters(), QStringList{"xml (*.xml)"});
        EXPECT_EQ(dialog->viewMode(), QFileDialog::List);
        EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptOpen);
        EXPECT_EQ(QDir(dialog->directory()).absolutePath(), QDir(QDir::homePath() + "/QuelvintLog").absolutePath());
        dialog->reject();
    });
    w.window->onOpen();
    ASSERT_EQ(closer.seen().size(), 1u);
    EXPECT_EQ(closer.seen()[0].className, "QFileDialog");
    EXPECT_EQ(closer.boxCount(), 0);
    EXPECT_EQ(StationRecord::instance()->params()[2], 0x5A);
}

TEST(MainWindowOpen, AChosenFileIsLoadedAndFollowedByTheSuccessBox) {
    QDir().mkpath(logDirectoryPath());
    const QString broken = logDirectoryPath() + "/broken.xml";
    writeFile(broken.toStdString(), "<Station><param address=");
    const QString good = logDirectoryPath() + "/good.xml";
    writeFile(good.toStdString(),
              "<?xml version=\"1.0\"  encoding=\"windows-1251\" ?>\r\n"
              "<Station time=\"01.02.24 10:00:00\">\r\n"
              "\t<param address=\"291\" system=\"158\" version=\"0\" frange=\"1\" freq_channe=\"500\" cps=\"0\" "
              "timeouts=\"0\" device=\"0\" />\r\n</Station>\r\n");

    for (const QString& file : {broken, good}) {
        Window w({portsNamed({L"A"})});
        ModalCloser closer;
        closer.setHandler([&](QWidget* modal, SeenModal&) {
            if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
                // Typed into the name field, as the operator would.
                auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
                ASSERT_NE(name, nullptr);
                name->setText(file);
                static_cast<QDialog*>(dialog)->accept();
            }
        });
        w.window->onOpen();
        ASSERT_EQ(closer.seen().size(), 2u) << file.toStdString();
        EXPECT_EQ(closer.seen()[0].className, "QFileDialog");
        expectSingleOkBox(closer.seen()[1], QMessageBox::Information, QString::fromUtf8("Успех"),
                          QString::fromUtf8("Станция переведена на новую частоту!"));
        EXPECT_EQ(StationRecord::instance()->address(), file == good ? 291 : 0);
        EXPECT_TRUE(w.controlsEnabled());
    }
}

// The outcome arrives before the thread has ended. Held here at its end, the
// thread is still running when the outcome box has gone: the controls stay
// disabled until it has ended, and the next press then gets its own outcome.
// A press made the moment the thread ends, before its end has been handled
// (the slot called directly), waits for it and must not let that late end
// count for the new run.
TEST(MainWindowRun, APressAfterTheOutcomeWaitsForTheThreadAndGetsItsOwnOutcome) {
    Window w({portsNamed({L"A"}, L"/nowhere/"), portsNamed({L"A"}, L"/nowhere/"), portsNamed({L"A"}, L"/nowhere/"),
              portsNamed({L"A"}, L"/nowhere/")});
    std::mutex mutex;
    std::condition_variable released;
    int passes = 0;   // runs allowed past their end
    w.window->workThread()->setPhaseObserver([&](JobPhase phase) {
        if (phase != JobPhase::Done) return;
        std::unique_lock<std::mutex> lock(mutex);
        released.wait(lock, [&] { return passes > 0; });
        --passes;
    });
    auto letOneRunEnd = [&] {
        {
            std::lock_guard<std::mutex> lock(mutex);
            ++passes;
        }
        released.notify_all();
    };
    ModalCloser closer;

    QTest::mouseClick(w.start, Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return closer.boxCount() == 1; }, 30000));
    QCoreApplication::processEvents();
    EXPECT_TRUE(w.window->workThread()->isRunning());
    EXPECT_TRUE(w.controlsDisabled()) << "enabled while the thread is still ending";
    letOneRunEnd();
    ASSERT_TRUE(waitUntil([&] { return w.controlsEnabled(); }, 30000));

    QTest::mouseClick(w.start, Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return closer.boxCount() == 2; }, 30000));
    EXPECT_EQ(closer.seen()[1].text, job_messages::portNotOpened());
    letOneRunEnd();
    w.window->onBStartReadClick();   // the second run's end not yet handled
    ASSERT_TRUE(waitUntil([&] { return closer.boxCount() == 3; }, 30000));
    QCoreApplication::processEvents();
    EXPECT_TRUE(w.window->workThread()->isRunning());
    EXPECT_TRUE(w.controlsDisabled()) << "the second run's end was counted for the third";
    letOneRunEnd();
    ASSERT_TRUE(waitUntil([&] { return w.controlsEnabled(); }, 30000));
    EXPECT_EQ(closer.boxCount(), 3);
}

// Once the operator has chosen a port (in the list, or by pressing the
// button on it), refreshes and the refusal of a changed list keep it by its
// name; when it has gone, no port is current and the button waits for a new
// choice. Never silently another port.
TEST(MainWindowPortChoice, TheChosenPortIsKeptByNameAndNeverReplaced) {
    const struct {
        const char* what;
        PortList atStart;
        const wchar_t* chosen;
        PortList later;        // every discovery after the choice
        bool press;            // press the button instead of refreshing
        QString currentAfter;  // empty: no current port
    } cases[] = {
        {"refresh, still listed", portsNamed({L"COM1", L"TUSB A", L"TUSB B"}), L"TUSB B",
         portsNamed({L"TUSB A", L"COM1", L"TUSB B"}), false, "TUSB B"},
        {"changed-list refusal, still listed", portsNamed({L"COM1", L"TUSB A", L"TUSB B"}), L"TUSB B",
         portsNamed({L"TUSB A", L"TUSB B", L"COM1"}), true, "TUSB B"},
        {"refresh, gone", portsNamed({L"COM1", L"TUSB A", L"TUSB B"}), L"TUSB B", portsNamed({L"COM1", L"TUSB A"}),
         false, ""},
        {"changed-list refusal, gone", portsNamed({L"COM1", L"TUSB A", L"TUSB B"}), L"TUSB B",
         portsNamed({L"TUSB A", L"COM1"}), true, ""},
        // Found again by its whole name: a port whose name starts with the
        // chosen one is another port.
        {"refresh, gone, a longer name left", portsNamed({L"Hub 1", L"Hub 10"}), L"Hub 1",
         portsNamed({L"Hub 10", L"COM1"}), false, ""},
        {"changed-list refusal, gone, a longer name left", portsNamed({L"Hub 1", L"Hub 10"}), L"Hub 1",
         portsNamed({L"Hub 10", L"COM1"}), true, ""},
    };
    for (const auto& c : cases) {
        Window w({c.atStart, c.later});
        const int chosen = w.combo->findText(QString::fromWCharArray(c.chosen));
        w.combo->setCurrentIndex(chosen);
        emit w.combo->activated(chosen);   // as the operator's pick in the list
        ModalCloser closer;
        (c.press ? w.start : w.refresh)->click();
        EXPECT_EQ(closer.boxCount(), c.press ? 1 : 0) << c.what;
        EXPECT_FALSE(w.window->workThread()->isRunning()) << c.what;
        EXPECT_EQ(w.combo->currentText(), c.currentAfter) << c.what;
        EXPECT_EQ(w.start->isEnabled(), !c.currentAfter.isEmpty()) << c.what;
        EXPECT_TRUE(w.combo->isEnabled() && w.refresh->isEnabled()) << c.what;
        if (!c.currentAfter.isEmpty()) continue;

        // The operator chooses again; a refresh keeps that choice too.
        w.combo->setCurrentIndex(1);
        emit w.combo->activated(1);
        EXPECT_TRUE(w.start->isEnabled()) << c.what;
        const QString picked = w.combo->currentText();
        w.refresh->click();
        EXPECT_EQ(w.combo->currentText(), picked) << c.what;
    }
}
