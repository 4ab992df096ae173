// What the fleet window says, as a technician or a screen reader reads it:
// the status line through every phase of every port, a row's phase once its
// work has ended, the port cells a screen reader holds while the table
// changes, the record's port names, the report's page and its problems, and
// that no English reaches the Russian window.
#include <QAccessible>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QUrl>
#include <map>
#include <utility>
#include <vector>

#include "FleetWindowFixture.h"

namespace {

// What the status line and the row say of a port for each of its activities.
struct Said {
    PortActivity::State state;
    JobPhase phase;   // Running only
    const char* words;
};
const Said kSaid[] = {
    {PortActivity::State::WaitingForStation, JobPhase::Opening, "ожидание станции"},
    {PortActivity::State::Running, JobPhase::Opening, "открытие порта"},
    {PortActivity::State::Running, JobPhase::Reading, "чтение"},
    {PortActivity::State::Running, JobPhase::Writing, "запись"},
    {PortActivity::State::Running, JobPhase::Verifying, "проверка"},
    {PortActivity::State::Running, JobPhase::Restarting, "перезапуск"},
    {PortActivity::State::WaitingForLeave, JobPhase::Opening, "готово; ожидание следующей станции"},
};

const Said* saidOf(const PortActivity& now) {
    for (const Said& said : kSaid)
        if (said.state == now.state && (now.state != PortActivity::State::Running || said.phase == now.phase))
            return &said;
    return nullptr;
}

// Each run's phases are said on its row and in the status line while they
// last, each in its own words: the status line never says a port waits for
// its station while its station restarts.
TEST_F(FleetWindowTest, TheStatusLineFollowsEveryPhaseOfEveryPort) {
    PublishedStation a("Bench said A", station(0x9E, 901)), b("Bench said B", station(0x9E, 902));
    ASSERT_TRUE(a.ok() && b.ok() && waitForRow(a.name()) && waitForRow(b.name()));
    window_->ports()->setChecked({a.name(), b.name()});
    std::map<QString, int> seen;   // the words said, how often
    std::vector<std::string> wrong;
    // Connected after the window: it has shown the activity when this runs.
    QObject::connect(window_->session(), &FleetSession::activity, window_.get(),
                     [&](const QString& port, const PortActivity& now) {
        if (now.state == PortActivity::State::Ended) return;
        const Said* said = saidOf(now);
        const QString words = said ? QString::fromUtf8(said->words) : QStringLiteral("?");
        ++seen[words];
        const QString inStatus = QStringLiteral("%1 (%2)").arg(port, words);
        if (!window_->statusText().contains(inStatus) || cell(port, FleetPortTable::Phase) != words)
            wrong.push_back((inStatus + QStringLiteral(": status «%1», phase «%2»")
                                            .arg(window_->statusText(), cell(port, FleetPortTable::Phase)))
                                .toStdString());
    });
    window_->startButton()->click();
    ASSERT_TRUE(waitForOutcome(a.name(), kMoved) && waitForOutcome(b.name(), kMoved));
    ASSERT_TRUE(waitUntil([&] { return seen[QStringLiteral("готово; ожидание следующей станции")] >= 2; }));
    for (const Said& said : kSaid)
        EXPECT_GT(seen[QString::fromUtf8(said.words)], 0) << "never said: " << said.words;
    for (const std::string& line : wrong) ADD_FAILURE() << line;
}

// A row's phase is the port's work now: once its run has ended the outcome
// stands alone (a moved row never keeps «перезапуск» beside it), and once its
// work has ended (the port unticked, Остановить) the row says no phase.
TEST_F(FleetWindowTest, ARowsPhaseClearsWhenItsRunOrItsWorkEnds) {
    QStringList running;   // the words of a run's phases
    for (const Said& said : kSaid)
        if (said.state == PortActivity::State::Running) running << QString::fromUtf8(said.words);
    const struct {
        const char* port;
        std::function<void(const QString& port)> end;
    } cases[] = {
        {"Bench clear untick",
         [this](const QString& port) {
             table()->item(table()->rowOf(port), FleetPortTable::Port)->setCheckState(Qt::Unchecked);
         }},
        {"Bench clear stop", [this](const QString&) { window_->stopButton()->click(); }},
    };
    std::uint16_t address = 911;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.port);
        PublishedStation port(c.port, station(0x9E, address++));
        ASSERT_TRUE(port.ok() && waitForRow(port.name()));
        window_->ports()->setChecked({port.name()});
        std::vector<QString> besideOutcome;   // the phase shown with an outcome
        const auto watch = [&] {
            if (!cell(port.name(), FleetPortTable::Outcome).isEmpty())
                besideOutcome.push_back(cell(port.name(), FleetPortTable::Phase));
        };
        const QMetaObject::Connection runs =
            QObject::connect(window_->session(), &FleetSession::runEnded, window_.get(), watch);
        const QMetaObject::Connection activities =
            QObject::connect(window_->session(), &FleetSession::activity, window_.get(), watch);
        window_->startButton()->click();
        ASSERT_TRUE(waitForOutcome(port.name(), kMoved));
        ASSERT_TRUE(waitUntil([&] { return cell(port.name(), FleetPortTable::Phase).startsWith(QStringLiteral("готово")); }))
            << "the station stays attached";
        c.end(port.name());
        EXPECT_TRUE(waitUntil([&] { return !window_->session()->working(port.name()); }));
        EXPECT_TRUE(waitUntil([&] { return cell(port.name(), FleetPortTable::Phase).isEmpty(); }, 20000))
            << "the work has ended, the row says: " << cell(port.name(), FleetPortTable::Phase).toStdString();
        for (const QString& phase : besideOutcome)
            EXPECT_FALSE(running.contains(phase)) << phase.toStdString() << " beside " << kMoved.toStdString();
        QObject::disconnect(runs);
        QObject::disconnect(activities);
        window_->stopButton()->click();
        ASSERT_TRUE(waitUntil([this] { return window_->startButton()->isEnabled(); }));
    }
}

// A screen reader holds on to the cell it reads: while the port's row or
// another changes (a phase, an outcome) the port's check box stays that
// port's, and after rows came and went the table's cells name their ports.
// The offscreen platform runs no screen reader, so each change is told to
// the tree as it is while one runs.
TEST_F(FleetWindowTest, APortsCheckBoxStaysItsOwnToAScreenReaderWhileTheTableChanges) {
    PublishedStation port("Bench held", station(0x9E, 951));
    ASSERT_TRUE(port.ok() && waitForRow(port.name()));
    std::optional<PublishedStation> other;
    QAccessibleTableInterface* cells = QAccessible::queryAccessibleInterface(table())->tableInterface();
    ASSERT_NE(cells, nullptr);
    const auto checkBox = [&] { return cells->cellAt(table()->rowOf(port.name()), FleetPortTable::Port); };
    const QAccessible::Id held = QAccessible::uniqueId(checkBox());
    PortRunRecord run;
    run.outcome = RunOutcome::Moved;
    using Change = QAccessibleTableModelChangeEvent::ModelChangeType;
    const struct {
        const char* what;
        std::function<bool()> change;   // false: it did not come about
        Change told;
        bool sameCell;                  // the cell held still answers; else the place is asked again
    } cases[] = {
        {"its phase shown",
         [&] { return table()->showActivity(port.name(), PortActivity::running(JobPhase::Reading, 951)), true; },
         Change::DataChanged, true},
        {"its outcome shown", [&] { return table()->showRun(port.name(), run, QStringLiteral("Запись обмена")), true; },
         Change::DataChanged, true},
        {"its phase cleared", [&] { return table()->clearActivity(port.name()), true; }, Change::DataChanged, true},
        {"a row came",
         [&] {
             other.emplace("Bench held too", station(0x9E, 952));
             return other->ok() && waitForRow(other->name());
         },
         Change::RowsInserted, false},
        {"a row went",
         [&] {
             other.reset();
             return waitUntil([&] {
                 window_->refreshPorts();
                 return table()->rowOf(QStringLiteral("Bench held too")) < 0;
             });
         },
         Change::RowsRemoved, false},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(c.change()) << c.what;
        QAccessibleTableModelChangeEvent told(table(), c.told);
        cells->modelChange(&told);   // what QAccessible::updateAccessibility does while a screen reader runs
        const QAccessibleInterface* cell = c.sameCell ? QAccessible::accessibleInterface(held) : checkBox();
        ASSERT_NE(cell, nullptr) << c.what << ": the cell held was dropped";
        EXPECT_EQ(cell->role(), QAccessible::CheckBox) << c.what;
        EXPECT_EQ(cell->text(QAccessible::Name).toStdString(), port.name().toStdString()) << c.what;
    }
}

// The day's record names a port as its row does, whoever ran it: this
// window, or another program whose ledger line names the device node or the
// published link.
TEST_F(FleetWindowTest, TheRecordNamesPortsAsTheRowsDo) {
    PublishedStation port("Bench named", station(0x9E, 921));
    ASSERT_TRUE(port.ok() && waitForRow(port.name()));
    const QString link = QDir(QString::fromStdString(virtualPortDirectory())).filePath(port.name());
    const struct {
        const char* what;
        int address;
        QString ledgerPort;   // empty: a run of this window
    } cases[] = {
        {"this window's run", 921, QString()},
        {"another program's run on the device node", 922, QString::fromStdString(port.host().slavePath())},
        {"another program's run on the published link", 923, link},
    };
    for (const auto& c : cases) {
        if (c.ledgerPort.isEmpty()) {
            check(port.name());
            window_->startButton()->click();
            ASSERT_TRUE(waitForOutcome(port.name(), kMoved));
            window_->stopButton()->click();
            ASSERT_TRUE(waitUntil([this] { return window_->startButton()->isEnabled(); }));
            continue;
        }
        LedgerEntry entry;
        entry.time = QDateTime::currentDateTime();
        entry.port = c.ledgerPort;
        entry.address = c.address;
        entry.outcome = QStringLiteral("moved");
        const Result<QString> appended = ledger::append(entry);
        ASSERT_TRUE(appended) << appended.why().toStdString();
    }
    const QTableWidget* runs = window_->record()->runs();
    for (const auto& c : cases) {
        const QString address = QString::number(c.address);
        const auto portOf = [&]() -> QString {
            for (int row = 0; row < runs->rowCount(); ++row)
                if (runs->item(row, 2)->text() == address) return runs->item(row, 1)->text();
            return QString();
        };
        EXPECT_TRUE(waitUntil([&] { return !portOf().isEmpty(); })) << c.what << ": not in the record";
        EXPECT_EQ(portOf().toStdString(), port.name().toStdString()) << c.what;
    }
}

// «Отчёт…» makes the page of this computer's ledger in the window's own
// process and opens it whenever it was written: also when the ledger could
// not be read or holds lines that are no ledger's, and then the status line
// names the ledger and shows every problem.
TEST_F(FleetWindowTest, TheReportOpensItsPageWheneverItIsWrittenAndNamesAnUnreadLedger) {
    const auto moved = [] {
        LedgerEntry entry;
        entry.time = QDateTime::currentDateTime();
        entry.port = QStringLiteral("/dev/ttyUSB0");
        entry.address = 931;
        entry.outcome = QStringLiteral("moved");
        return bool(ledger::append(entry));
    };
    const struct {
        const char* what;
        std::function<bool()> ledger;   // makes the ledger the report reads
        bool browserOpens;
        const char* says;
        bool namesLedger;
    } cases[] = {
        {"a readable ledger", moved, true, "Отчёт записан и открыт", false},
        {"a ledger that cannot be read", [] { return QDir().mkpath(ledger::path()); }, true, "прочитан не весь", true},
        {"a ledger with a line that is no ledger's",
         [moved] {
             QFile file(ledger::path());
             return moved() && file.open(QIODevice::Append) && file.write("no ledger line\n") > 0;
         },
         true, "Не все строки", true},
        {"a page the browser does not open", moved, false, "Открыть его не удалось", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QFile::remove(ledger::path());
        QDir(ledger::path()).removeRecursively();
        ASSERT_TRUE(c.ledger());
        window_->record()->refresh();   // what the record says of the ledger is said before the report
        std::vector<QUrl> opened;
        window_->setUrlOpener([&opened, &c](const QUrl& url) {
            opened.push_back(url);
            return c.browserOpens;
        });
        window_->reportButton()->click();
        ASSERT_TRUE(waitUntil([this] { return window_->reportButton()->isEnabled(); }));
        ASSERT_EQ(opened.size(), 1u) << "the page was not opened: " << window_->statusText().toStdString();
        QFile page(opened[0].toLocalFile());
        ASSERT_TRUE(page.open(QIODevice::ReadOnly)) << page.fileName().toStdString();
        EXPECT_TRUE(page.readAll().contains("<html")) << "no page";
        // The window's own sentences, before the report's problems.
        const QString status = window_->statusText();
        const QString said = status.left(status.indexOf(QStringLiteral("Подробности:")));
        EXPECT_TRUE(said.contains(QString::fromUtf8(c.says))) << status.toStdString();
        EXPECT_TRUE(said.contains(QDir::toNativeSeparators(page.fileName()))) << status.toStdString();
        EXPECT_EQ(said.contains(QDir::toNativeSeparators(ledger::path())), c.namesLedger) << status.toStdString();
        EXPECT_EQ(status.contains(QStringLiteral("Подробности:")), c.namesLedger) << "every problem shown";
    }
}

// A ledger that cannot be read is said once, not again each time its folder
// changes (a report written beside it), so the status line keeps what was
// said since; said again once it has been readable in between.
TEST_F(FleetWindowTest, ALedgerThatCannotBeReadIsSaidOnceUntilItChanges) {
    int said = 0;
    QObject::connect(window_->record(), &DayRecord::problem, window_.get(), [&said] { ++said; });
    const struct {
        const char* what;
        bool readable;
        int saidSoFar;
    } steps[] = {
        {"a folder where the ledger belongs", false, 1},
        {"read again", false, 1},
        {"a ledger again", true, 1},
        {"a folder again", false, 2},
    };
    for (const auto& step : steps) {
        QFile::remove(ledger::path());
        QDir(ledger::path()).removeRecursively();
        ASSERT_TRUE(step.readable ? QFile(ledger::path()).open(QIODevice::WriteOnly) : QDir().mkpath(ledger::path()));
        window_->record()->refresh();
        EXPECT_EQ(said, step.saidSoFar) << step.what;
    }
    const QString status = window_->statusText();
    EXPECT_TRUE(status.contains(QDir::toNativeSeparators(ledger::path()))) << status.toStdString();
}

// The ports that could not be listed are said, with the system's words, until
// a listing is made again.
TEST_F(FleetWindowTest, APortListThatFailsIsSaidUntilTheNextIsMade) {
    const struct {
        const char* what;
        Result<QString> answer;
        const char* status;
    } cases[] = {
        {"the system does not list them", failure(QStringLiteral("SetupDiGetClassDevs failed. (err=5)")),
         "Список портов не получен (сообщение системы: «SetupDiGetClassDevs failed. (err=5)»)"},
        {"listed again", Result<QString>(), "Отметьте порты и нажмите «Начать»."},
    };
    for (const auto& c : cases) {
        window_->setDiscovery([&c](PortList* found) {
            found->clear();
            return c.answer;
        });
        EXPECT_TRUE(window_->statusText().startsWith(QString::fromUtf8(c.status)))
            << c.what << ": " << window_->statusText().toStdString();
    }
}

// Every text the window shows or gives a screen reader: its labels and
// buttons, the tables' headers, cells and tool tips, accessible names and
// descriptions.
QStringList textsOf(const QWidget& window) {
    QStringList texts{window.windowTitle()};
    for (const QWidget* widget : window.findChildren<QWidget*>()) {
        if (!widget->isVisibleTo(&window)) continue;
        texts << widget->toolTip() << widget->accessibleName() << widget->accessibleDescription();
        if (const auto* label = qobject_cast<const QLabel*>(widget)) texts << label->text();
        if (const auto* button = qobject_cast<const QAbstractButton*>(widget)) texts << button->text();
        const auto* table = qobject_cast<const QTableWidget*>(widget);
        for (int column = 0; table && column < table->columnCount(); ++column) {
            texts << table->horizontalHeaderItem(column)->text();
            for (int row = 0; row < table->rowCount(); ++row)
                if (const QTableWidgetItem* cell = table->item(row, column)) texts << cell->text() << cell->toolTip();
        }
    }
    texts.removeAll(QString());
    return texts;
}

// The texts with English words in them, once the ports' names, paths and
// the system's own words quoted as a detail are left out, and the name of
// the key its cap bears. The descriptions of the machine's own ports (not
// `ours`) name their devices as the devices do, and are left out too.
QStringList english(const FleetWindow& window, const QStringList& ours) {
    QStringList names{QStringLiteral("Enter")};
    const QTableWidget* ports = window.ports();
    for (int row = 0; row < ports->rowCount(); ++row) {
        names << ports->item(row, FleetPortTable::Port)->text();
        if (!ours.contains(names.last())) names << ports->item(row, FleetPortTable::Description)->text();
    }
    const QTableWidget* runs = window.record()->runs();
    for (int row = 0; row < runs->rowCount(); ++row) names << runs->item(row, 1)->text();
    static const QRegularExpression path(QStringLiteral("\\S*[/\\\\]\\S*")), quoted(QStringLiteral("«[^»]*»")),
        word(QStringLiteral("[A-Za-z]{2,}"));
    QStringList found;
    for (const QString& text : textsOf(window)) {
        QString rest = text;
        for (const QString& name : names) rest.remove(name);
        rest.remove(quoted).remove(path);
        if (rest.contains(word)) found << text;
    }
    return found;
}

// Nothing in English reaches the Russian window: not the command line's own
// lines (a station it does not support), not a run whose program does not
// start, not a port list the system would not make, not a file beside a run
// that could not be written.
TEST_F(FleetWindowTest, NoEnglishReachesTheWindow) {
    PublishedStation odd("Bench odd", [] {
        sim::DefaultStationOptions options;
        options.rangeCode = 5;   // a frequency plan the program does not cover
        options.address = 941;
        return sim::makeDefaultStation(options);
    }());
    PublishedStation plain("Bench plain", station(0x9E, 942));
    ASSERT_TRUE(odd.ok() && plain.ok() && waitForRow(odd.name()) && waitForRow(plain.name()));
    const QString notAProgram = QDir(home_.path()).filePath(QStringLiteral("rechannel-cli"));
    QFile script(notAProgram);
    ASSERT_TRUE(script.open(QIODevice::WriteOnly) && script.write("not a program\n") > 0);
    script.close();
    // What the window says of a port beside its row ("port: ...").
    const auto saidFor = [this](const QString& port) {
        const QRegularExpression line(QStringLiteral("^") + QRegularExpression::escape(port) + QStringLiteral(": "));
        return [this, line] { return !textsOf(*window_).filter(line).isEmpty(); };
    };
    const auto notWritten = [&](FleetProblem::Kind kind) {
        return [&, kind] {
            const FleetProblem problem{kind, QStringLiteral("/home/u/file"), QStringLiteral("No space left on device")};
            emit window_->session()->problem(plain.name(), problem);
            return saidFor(plain.name())() && !textsOf(*window_).filter(problem.why).isEmpty();
        };
    };
    const struct {
        const char* what;
        std::function<bool()> make;   // true once the window shows it
    } cases[] = {
        {"the command line's own note on a station it does not support",
         [&] {
             window_->ports()->setChecked({odd.name()});
             window_->startButton()->click();
             return waitForOutcome(odd.name(), QStringLiteral("Частотный план")) && waitUntil(saidFor(odd.name()));
         }},
        {"a run whose program does not start",
         [&] {
             window_ = std::make_unique<FleetWindow>(notAProgram);
             window_->show();
             window_->ports()->setChecked({plain.name()});
             window_->startButton()->click();
             return waitForOutcome(plain.name(), QStringLiteral("Неизвестная ошибка")) &&
                    waitUntil(saidFor(plain.name()));
         }},
        {"a run's ledger line not written", notWritten(FleetProblem::Kind::LedgerNotWritten)},
        {"a run's trace not completed", notWritten(FleetProblem::Kind::TraceIncomplete)},
        {"a port list the system would not make",
         [&] {
             window_->setDiscovery(
                 [](PortList*) { return failure(QStringLiteral("Could not get OS version. (err=5)")); });
             return window_->statusText().startsWith(QStringLiteral("Список портов не получен"));
         }},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(c.make()) << c.what;
        const QStringList found = english(*window_, {odd.name(), plain.name()});
        EXPECT_EQ(found.join(QStringLiteral("\n---\n")).toStdString(), std::string()) << c.what;
    }
}

}  // namespace
