// The fleet window against simulated stations published as ports: the
// ports worked at once, station after station, ports that come and go,
// stopping, and stations that need attention. Every run is a real child
// rechannel-cli, as in the installed program.
#include "FleetWindowFixture.h"

namespace {

TEST_F(FleetWindowTest, TwoPortsAtOnceAreMovedAndTheDayRecordCountsThem) {
    PublishedStation a("Bench two A", station(0x9E, 701)), b("Bench two B", station(0x9E, 702));
    ASSERT_TRUE(a.ok() && b.ok());
    ASSERT_TRUE(waitForRow(a.name()) && waitForRow(b.name()));
    check(a.name());
    check(b.name());
    window_->startButton()->click();
    ASSERT_TRUE(waitForOutcome(a.name(), kMoved)) << cell(a.name(), FleetPortTable::Outcome).toStdString();
    ASSERT_TRUE(waitForOutcome(b.name(), kMoved)) << cell(b.name(), FleetPortTable::Outcome).toStdString();
    EXPECT_EQ(cell(a.name(), FleetPortTable::Address), QStringLiteral("701"));
    EXPECT_EQ(a.system(), 0x3A);
    EXPECT_EQ(b.system(), 0x3A);
    EXPECT_EQ(window_->record()->moved(), 2);
    EXPECT_EQ(window_->record()->needAttention(), 0);
    EXPECT_EQ(window_->record()->runs()->rowCount(), 2);
    EXPECT_FALSE(window_->record()->traceOf(0).isEmpty()) << "the fleet kept the run's trace";
}

TEST_F(FleetWindowTest, AStationLeftAttachedIsProgrammedOnceAndTheNextOneAtOnce) {
    PublishedStation port("Bench next", station(0x9E, 711));
    ASSERT_TRUE(port.ok() && waitForRow(port.name()));
    check(port.name());
    window_->startButton()->click();
    ASSERT_TRUE(waitForOutcome(port.name(), kMoved));
    // The window's event loop runs the probes: it must run while waiting.
    const auto framesGrow = [&port](std::size_t by) {
        const std::size_t from = port.host().frames().size();
        return waitUntil([&port, from, by] { return port.host().frames().size() >= from + by; });
    };
    ASSERT_TRUE(framesGrow(6)) << "three probes";
    EXPECT_EQ(port.host().snapshot().restarts, 1) << "programmed twice";

    // It leaves (silent), and a station with another address takes its place.
    sim::FaultScript gone;
    gone.always(sim::Fault::noReply());
    port.host().setFaults(gone);
    ASSERT_TRUE(framesGrow(2)) << "silent probes";
    const sim::StationModel next = station(0x9E, 712);
    port.host().withModel([&next](sim::StationModel& m) { m.rom = next.rom; });
    port.host().setFaults(sim::FaultScript{});
    ASSERT_TRUE(waitUntil([&] { return cell(port.name(), FleetPortTable::Address) == QStringLiteral("712"); }));
    ASSERT_TRUE(waitUntil([&] { return ledgerLines().size() == 2; }));
    EXPECT_EQ(ledgerLines().back().outcome, QStringLiteral("moved"));
}

TEST_F(FleetWindowTest, PortsFollowWhatIsPluggedInAndAllTakesTheLateOnes) {
    window_->matchEdit()->setText(QStringLiteral("Yard"));
    window_->allPorts()->setChecked(true);
    auto early = std::make_unique<PublishedStation>("Yard early", station(0x9E, 721));
    ASSERT_TRUE(early->ok() && waitForRow(early->name()));
    early.reset();   // pulled out before the work began: its row goes
    ASSERT_TRUE(waitUntil([&] {
        window_->refreshPorts();
        return table()->rowOf(QStringLiteral("Yard early")) < 0;
    }));
    window_->startButton()->click();
    PublishedStation late("Yard late", station(0x9E, 722));
    ASSERT_TRUE(late.ok());
    ASSERT_TRUE(waitForOutcome(late.name(), kMoved)) << "a port plugged in while working is taken at once";
    EXPECT_EQ(late.system(), 0x3A);
}

// A port pulled out while it is worked keeps its row, waiting for the port,
// until the work ends.
TEST_F(FleetWindowTest, APortPulledOutWhileWorkedKeepsItsRowUntilTheWorkEnds) {
    auto port = std::make_unique<PublishedStation>("Yard pulled", station(0x9E, 781));
    const QString name = port->name();
    ASSERT_TRUE(port->ok() && waitForRow(name));
    check(name);
    window_->startButton()->click();
    ASSERT_TRUE(waitForOutcome(name, kMoved));
    port.reset();
    window_->refreshPorts();
    EXPECT_TRUE(waitUntil([&] { return cell(name, FleetPortTable::Phase) == QStringLiteral("ожидание порта"); }))
        << "row " << table()->rowOf(name);
    EXPECT_TRUE(cell(name, FleetPortTable::Outcome).startsWith(kMoved)) << "the outcome shown is kept";
    window_->stopButton()->click();
    EXPECT_TRUE(waitUntil([&] { return table()->rowOf(name) < 0; })) << "the row stays after the work";
}

// Stopping, by «Остановить» or by unticking the port: a run before its
// writes stops with nothing written, one in its writes finishes.
TEST_F(FleetWindowTest, StoppingEndsARunBeforeItsWritesAndLetsOneInItsWritesFinish) {
    struct Case {
        const char* name;
        QString phase;        // the row's phase when the port is stopped
        QString outcome;
        std::uint8_t system;
        bool untick;          // the port unticked while the work goes on, not Остановить
    };
    const Case cases[] = {
        {"Bench stop read", QStringLiteral("чтение"), QStringLiteral("Остановлено до записи"), 0x9E, false},
        {"Bench stop write", QStringLiteral("запись"), kMoved, 0x3A, false},
        {"Bench untick read", QStringLiteral("чтение"), QStringLiteral("Остановлено до записи"), 0x9E, true},
        {"Bench untick write", QStringLiteral("запись"), kMoved, 0x3A, true},
    };
    for (const Case& c : cases) {
        PublishedStation port(c.name, station(0x9E, 731), 150);
        ASSERT_TRUE(port.ok() && waitForRow(port.name()));
        window_->ports()->setChecked({port.name()});
        window_->startButton()->click();
        ASSERT_TRUE(waitUntil([&] { return cell(port.name(), FleetPortTable::Phase) == c.phase; })) << c.name;
        const std::size_t linesBefore = ledgerLines().size();
        if (c.untick) {
            table()->item(table()->rowOf(port.name()), FleetPortTable::Port)->setCheckState(Qt::Unchecked);
            ASSERT_TRUE(waitUntil([&] { return ledgerLines().size() > linesBefore; })) << c.name;
            window_->stopButton()->click();
        } else {
            window_->stopButton()->click();
            EXPECT_TRUE(window_->statusText().startsWith(QStringLiteral("Остановка"))) << window_->statusText().toStdString();
        }
        ASSERT_TRUE(waitUntil([&] { return window_->startButton()->isEnabled(); })) << c.name;
        EXPECT_TRUE(cell(port.name(), FleetPortTable::Outcome).startsWith(c.outcome)) << c.name;
        EXPECT_EQ(port.system(), c.system) << c.name;
        EXPECT_EQ(ledgerLines().size(), linesBefore + 1) << "the stopped run keeps its ledger line";
    }
}

// The ports ticked and «Имя порта содержит» are remembered: the next start
// of the window chooses the same ports, the others hidden as before.
TEST_F(FleetWindowTest, TheNextStartChoosesThePortsChosenBefore) {
    PublishedStation kept("Yard kept", station(0x9E, 771)), other("Yard other", station(0x9E, 772));
    ASSERT_TRUE(kept.ok() && other.ok() && waitForRow(kept.name()) && waitForRow(other.name()));
    check(kept.name());
    check(other.name());
    window_->matchEdit()->setText(QStringLiteral("kept"));
    ASSERT_TRUE(window_->close());
    window_ = std::make_unique<FleetWindow>(QStringLiteral(RECHANNEL_CLI_PATH));
    window_->show();
    EXPECT_EQ(window_->matchEdit()->text(), QStringLiteral("kept"));
    ASSERT_TRUE(table()->rowOf(kept.name()) >= 0 && table()->rowOf(other.name()) >= 0);
    EXPECT_FALSE(table()->isRowHidden(table()->rowOf(kept.name())));
    EXPECT_TRUE(table()->isRowHidden(table()->rowOf(other.name()))) << "a port the remembered match hides is shown";
    EXPECT_EQ(table()->item(table()->rowOf(kept.name()), FleetPortTable::Port)->checkState(), Qt::Checked);
    window_->startButton()->click();
    ASSERT_TRUE(waitForOutcome(kept.name(), kMoved));
    EXPECT_EQ(other.system(), 0x9E) << "the hidden port was worked";
}

TEST_F(FleetWindowTest, AStationOfAnotherSystemNeedsAttentionAndTheFilterShowsIt) {
    PublishedStation good("Bench mix good", station(0x9E, 741)), other("Bench mix other", station(0x11, 742));
    ASSERT_TRUE(good.ok() && other.ok() && waitForRow(good.name()) && waitForRow(other.name()));
    window_->ports()->setChecked({good.name(), other.name()});
    window_->startButton()->click();
    ASSERT_TRUE(waitForOutcome(good.name(), kMoved));
    ASSERT_TRUE(waitForOutcome(other.name(), QStringLiteral("Станция другой системы")));
    EXPECT_EQ(other.system(), 0x11) << "nothing written to it";
    EXPECT_EQ(window_->record()->needAttention(), 1);
    window_->record()->attentionOnly()->setChecked(true);
    ASSERT_EQ(window_->record()->runs()->rowCount(), 1);
    EXPECT_EQ(window_->record()->runs()->item(0, 2)->text(), QStringLiteral("742"));
}

// A port unticked while the work goes on, or hidden by «Имя порта содержит»,
// is let go: its station is probed no more and one plugged in there is not
// programmed; ticked or shown again, the port is worked again. The other
// port, still worked, keeps the pace: probes about every 150 ms on each.
TEST_F(FleetWindowTest, AnUntickedOrHiddenPortIsNoLongerWorked) {
    struct Case {
        const char* kept;
        const char* dropped;
        std::function<void(const QString& dropped)> letGo, takeBack;
    };
    const auto tick = [this](Qt::CheckState state) {
        return [this, state](const QString& port) {
            table()->item(table()->rowOf(port), FleetPortTable::Port)->setCheckState(state);
        };
    };
    const auto match = [this](const char* text) {
        return [this, text](const QString&) { window_->matchEdit()->setText(QString::fromUtf8(text)); };
    };
    const Case cases[] = {
        {"Bench keep 1", "Bench drop 1", tick(Qt::Unchecked), tick(Qt::Checked)},
        {"Bench keep 2", "Bench drop 2", match("keep 2"), match("")},
    };
    std::uint16_t address = 751;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dropped);
        PublishedStation kept(c.kept, station(0x9E, address)), dropped(c.dropped, station(0x9E, address + 1));
        ASSERT_TRUE(kept.ok() && dropped.ok() && waitForRow(kept.name()) && waitForRow(dropped.name()));
        window_->ports()->setChecked({kept.name(), dropped.name()});
        window_->startButton()->click();
        ASSERT_TRUE(waitForOutcome(kept.name(), kMoved) && waitForOutcome(dropped.name(), kMoved));
        const auto probesOnKept = [&kept](std::size_t probes) {
            const std::size_t from = kept.host().frames().size();
            return waitUntil([&kept, from, probes] { return kept.host().frames().size() >= from + 2 * probes; });
        };

        c.letGo(dropped.name());
        ASSERT_TRUE(probesOnKept(2)) << "a probe under way when the port was let go has ended";
        const std::size_t framesBefore = dropped.host().frames().size();
        const sim::StationModel next = station(0x9E, address + 2);
        dropped.host().withModel([&next](sim::StationModel& m) { m.rom = next.rom; });
        ASSERT_TRUE(probesOnKept(4));
        EXPECT_EQ(dropped.host().frames().size(), framesBefore) << "the port let go is still probed";
        EXPECT_EQ(dropped.system(), 0x9E) << "the station on the port let go was programmed";

        c.takeBack(dropped.name());
        EXPECT_TRUE(waitUntil([&] { return dropped.system() == 0x3A; })) << "the port taken back is not worked";
        window_->stopButton()->click();
        ASSERT_TRUE(waitUntil([this] { return window_->startButton()->isEnabled(); }));
        address = static_cast<std::uint16_t>(address + 10);
    }
}

// With no port at work, «Остановить» or closing the window ends the work at
// once: the window neither stays in «Остановка…» nor refuses to close.
TEST_F(FleetWindowTest, StoppingOrClosingWithNoPortAtWorkEndsAtOnce) {
    const struct {
        const char* what;
        std::function<void(FleetWindow&)> end;
    } cases[] = {
        {"Остановить", [](FleetWindow& w) { w.stopButton()->click(); }},
        {"closing the window", [](FleetWindow& w) { w.close(); }},
    };
    for (const auto& c : cases) {
        window_->show();
        window_->startButton()->click();
        ASSERT_TRUE(window_->stopButton()->isEnabled()) << c.what << ": the work did not start";
        c.end(*window_);
        EXPECT_TRUE(waitUntil([this] { return window_->startButton()->isEnabled() && !window_->stopButton()->isEnabled(); },
                              20000))
            << c.what << ": " << window_->statusText().toStdString();
        EXPECT_FALSE(window_->statusText().startsWith(QStringLiteral("Остановка"))) << c.what;
    }
    EXPECT_TRUE(waitUntil([this] { return !window_->isVisible(); }, 20000)) << "the window did not close";
}

// «Сегодня»: each of today's stations counted once by its latest outcome of
// today; a station moved before today is not today's.
TEST_F(FleetWindowTest, TheDayRecordCountsTodaysStationsByTheirLatestOutcome) {
    const QDate today = QDate::currentDate();
    const struct {
        int address;
        QDateTime time;
        const char* outcome;
    } runs[] = {
        {801, QDateTime(today, QTime(0, 0)), "moved"},                       // the day's first instant
        {802, QDateTime(today, QTime(0, 0, 1)), "already-moved"},
        {803, QDateTime(today.addDays(-1), QTime(23, 59, 59)), "moved"},     // yesterday's
        {804, QDateTime(today.addDays(-1), QTime(23, 0)), "moved"},
        {804, QDateTime(today, QTime(0, 0, 2)), "no-answer"},
        {805, QDateTime(today, QTime(0, 0, 3)), "partly-written"},
        {805, QDateTime(today, QTime(0, 0, 4)), "moved"},
        {806, QDateTime(today, QTime(0, 0, 5)), "restored"},                  // on its old system on purpose
    };
    for (const auto& run : runs) {
        LedgerEntry entry;
        entry.time = run.time;
        entry.port = QStringLiteral("/dev/ttyUSB0");
        entry.address = run.address;
        entry.outcome = QString::fromLatin1(run.outcome);
        const Result<QString> appended = ledger::append(entry);
        ASSERT_TRUE(appended) << appended.why().toStdString();
    }
    window_->record()->refresh();
    const QLabel* counters = window_->record()->findChild<QLabel*>();
    ASSERT_NE(counters, nullptr);
    EXPECT_EQ(counters->text(), QStringLiteral("Сегодня: переведено 2, уже переведено 1, требуют внимания 1"));
    const QTableWidget* shown = window_->record()->runs();
    ASSERT_EQ(shown->rowCount(), 6) << "today's runs";
    EXPECT_EQ(shown->item(0, 2)->text(), QStringLiteral("806")) << "newest first";
    EXPECT_EQ(shown->item(5, 2)->text(), QStringLiteral("801"));
}

// Each of today's runs shows its own trace, also two runs of one port a
// moment apart; a run the window kept no trace of (another program's, read
// from the ledger) shows none, and a run of this window is never shown twice
// when the ledger is read again.
TEST_F(FleetWindowTest, EachRunOfTheDayShowsItsOwnTrace) {
    const QDateTime now = QDateTime::currentDateTime();
    for (const int address : {821, 822, 823}) {
        LedgerEntry entry;
        entry.time = now;
        entry.port = QStringLiteral("/dev/ttyUSB0");
        entry.address = address;
        entry.outcome = QStringLiteral("moved");
        const Result<QString> appended = ledger::append(entry);
        ASSERT_TRUE(appended) << appended.why().toStdString();
        if (address == 823) continue;   // another program's run
        PortRunRecord run;
        run.port = QStringLiteral("USB 0");
        run.device = entry.port;
        run.address = address;
        run.outcome = RunOutcome::Moved;
        run.trace = QStringLiteral("/traces/%1.txt").arg(address);
        run.ledger = ledger::read(ledger::path()).back();
        window_->record()->addRun(run.port, run);
    }
    window_->record()->refresh();
    const QTableWidget* shown = window_->record()->runs();
    ASSERT_EQ(shown->rowCount(), 3);
    for (int row = 0; row < shown->rowCount(); ++row) {
        const QString address = shown->item(row, 2)->text();
        EXPECT_EQ(window_->record()->traceOf(row),
                  address == QStringLiteral("823") ? QString() : QStringLiteral("/traces/%1.txt").arg(address));
    }
}

TEST(FleetWindowCli, AMissingCliIsSaidAndNothingStarts) {
    FleetWindow window(QStringLiteral("/nonexistent/rechannel-cli"));
    window.startButton()->click();
    EXPECT_FALSE(window.session()->started());
    EXPECT_TRUE(window.statusText().contains(QStringLiteral("Не найдена программа"))) << window.statusText().toStdString();
}

}  // namespace
