#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <optional>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <unistd.h>

#include "JobMessages.h"
#include "JobRun.h"
#include "SerialPort.h"
#include "StationRecord.h"

namespace {

class WorkThreadTest : public ::testing::Test {
protected:
    void SetUp() override { StationRecord::create(); }

    // A moved station answers without any write: quick and harmless.
    static sim::StationModel movedStation() {
        sim::DefaultStationOptions options;
        options.system = 0x3A;
        options.channel0 = 1902;
        return sim::makeDefaultStation(options);
    }

    static void expectPortFree(const std::wstring& path) {
        SerialPort other;
        EXPECT_TRUE(other.open(path, 57600)) << "the job left the port open";
        other.close();
    }
};

}  // namespace

TEST_F(WorkThreadTest, UnopenablePortIsTriedTwiceThenReportedOnce) {
    WorkThread thread;
    QElapsedTimer clock;
    clock.start();
    const JobOutcome outcome = runJob(thread, L"/dev/rechannel-no-such-port");
    EXPECT_GE(clock.elapsed(), 2000) << "no pause before the second attempt";
    ASSERT_EQ(outcome.signalCount(), 1);
    EXPECT_EQ(outcome.text(), job_messages::portNotOpened());
    EXPECT_EQ(outcome.code(), 1);
    EXPECT_TRUE(outcome.trace.empty());

    // An empty path never opens either, and still waits before giving up.
    clock.restart();
    const JobOutcome empty = runJob(thread, L"");
    EXPECT_GE(clock.elapsed(), 2000) << "no pause before the second attempt on an empty path";
    ASSERT_EQ(empty.signalCount(), 1);
    EXPECT_EQ(empty.text(), job_messages::portNotOpened());
    EXPECT_EQ(empty.code(), 1);
    EXPECT_TRUE(empty.trace.empty());
}

// A path that exists but is no serial port (a plain file) is opened on the
// first attempt and once more, never a third time.
TEST_F(WorkThreadTest, AnUnopenablePortIsOpenedExactlyTwice) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("not-a-port"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    const int watch = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    ASSERT_GE(watch, 0);
    // Closes too: inotify merges identical events that follow each other.
    ASSERT_GE(::inotify_add_watch(watch, QFile::encodeName(path).constData(), IN_OPEN | IN_CLOSE), 0);

    WorkThread thread;
    const JobOutcome outcome = runJob(thread, path.toStdWString());
    EXPECT_EQ(outcome.code(), 1);

    int opens = 0;
    alignas(inotify_event) char buffer[4096];
    for (ssize_t n; (n = ::read(watch, buffer, sizeof buffer)) > 0;) {
        for (char* at = buffer; at < buffer + n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(at);
            if (event->mask & IN_OPEN) ++opens;
            at += sizeof(inotify_event) + event->len;
        }
    }
    ::close(watch);
    EXPECT_EQ(opens, 2);
}

TEST_F(WorkThreadTest, SilentStationIsNoAnswerAndThePortIsClosed) {
    sim::PtyStationHost host;
    ASSERT_TRUE(host.start());
    sim::FaultScript silent;
    silent.powerLostFrom(0);
    host.setFaults(silent);

    WorkThread thread;
    const JobOutcome outcome = runJob(thread, host.slavePathW());
    ASSERT_EQ(outcome.signalCount(), 1);
    EXPECT_EQ(outcome.text(), job_messages::noAnswer());
    EXPECT_EQ(outcome.code(), -1);
    EXPECT_FALSE(thread.connection().isOpen());
    expectPortFree(host.slavePathW());
}

TEST_F(WorkThreadTest, RefusalIsRetriedAndOnTheLastAttemptReportedAsMinus2) {
    sim::PtyStationHost host(movedStation());
    ASSERT_TRUE(host.start());
    WorkThread thread;

    // Refused once: the second attempt succeeds and the job goes on.
    sim::FaultScript once;
    once.at(host.exchangeCount(), sim::Fault::withStatus(3));
    host.setFaults(once);
    const JobOutcome retried = runJob(thread, host.slavePathW());
    ASSERT_EQ(retried.signalCount(), 1);
    EXPECT_EQ(retried.code(), job_messages::kCodeAlreadyMoved);

    // Refused on both attempts of the first read.
    sim::FaultScript twice;
    twice.at(host.exchangeCount(), sim::Fault::withStatus(3));
    twice.at(host.exchangeCount() + 1, sim::Fault::withStatus(3));
    host.setFaults(twice);
    const JobOutcome refused = runJob(thread, host.slavePathW());
    ASSERT_EQ(refused.signalCount(), 1);
    EXPECT_EQ(refused.text(), job_messages::noAnswer());
    EXPECT_EQ(refused.code(), -2);
    EXPECT_FALSE(thread.connection().isOpen());
    expectPortFree(host.slavePathW());
}

TEST_F(WorkThreadTest, APortFreedBeforeTheSecondOpenAttemptIsUsed) {
    sim::PtyStationHost host(movedStation());
    ASSERT_TRUE(host.start());
    const std::string path = host.slavePath();
    // Another program holds the port when the run starts ...
    const int holder = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    // ... and lets it go once the worker's first attempt has given up on it.
    const int watch = ::inotify_init1(IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(::inotify_add_watch(watch, path.c_str(), IN_CLOSE), 0);

    WorkThread thread;
    QSignalSpy failed(&thread, &WorkThread::onErr);
    thread.setPortPath(host.slavePathW());
    thread.start();
    pollfd p{watch, POLLIN, 0};
    const bool firstAttemptClosed = ::poll(&p, 1, 10000) == 1;
    ::close(holder);
    ::close(watch);
    ASSERT_TRUE(firstAttemptClosed) << "the worker never tried the port";
    ASSERT_TRUE(thread.wait(QDeadlineTimer(60000)));

    ASSERT_EQ(failed.count(), 1);
    EXPECT_EQ(failed.first().at(1).toInt(), job_messages::kCodeAlreadyMoved) << "the second attempt opened the port";
    EXPECT_GT(host.exchangeCount(), 0);
}

TEST_F(WorkThreadTest, AfterAnErrorTheNextRunOpensTheNewlyChosenPort) {
    sim::PtyStationHost silentHost;
    sim::PtyStationHost goodHost(movedStation());
    ASSERT_TRUE(silentHost.start());
    ASSERT_TRUE(goodHost.start());
    sim::FaultScript silent;
    silent.powerLostFrom(0);
    silentHost.setFaults(silent);

    WorkThread thread;
    EXPECT_EQ(runJob(thread, silentHost.slavePathW()).code(), -1);
    silentHost.clearFrames();

    const JobOutcome second = runJob(thread, goodHost.slavePathW());
    ASSERT_EQ(second.signalCount(), 1);
    EXPECT_EQ(second.code(), job_messages::kCodeAlreadyMoved);
    EXPECT_GT(goodHost.exchangeCount(), 0);
    EXPECT_TRUE(silentHost.frames().empty()) << "the second run still talked to the first port";
}

TEST_F(WorkThreadTest, AnyOtherFailureIsUnknownErrorAndClosesThePort) {
    sim::PtyStationHost host;
    ASSERT_TRUE(host.start());
    WorkThread thread;
    thread.setBeforeFirstWrite([](const std::uint8_t*) { throw std::runtime_error("backup failed"); });
    const JobOutcome outcome = runJob(thread, host.slavePathW());
    ASSERT_EQ(outcome.signalCount(), 1);
    EXPECT_EQ(outcome.text(), job_messages::unknownError());
    EXPECT_EQ(outcome.code(), 255);
    EXPECT_TRUE(romWrites(host.frames()).empty());
    EXPECT_FALSE(thread.connection().isOpen());
    expectPortFree(host.slavePathW());
}

// The phases a run reports, with what it leaves for its caller. The window's
// runs (no read-back) keep their wire sequence; with the read-back the system
// code follows only after the table and block 0 were read back.
TEST_F(WorkThreadTest, EachRunReportsItsPhasesVerifyResultAndBackup) {
    using P = JobPhase;
    const struct {
        const char* what;
        sim::StationModel station;
        bool verify;
        std::vector<JobPhase> phases;
        VerifyResult verifyResult;
        bool backup;
    } cases[] = {
        {"move, read-back on", sim::makeDefaultStation(), true,
         {P::Opening, P::Reading, P::Writing, P::Verifying, P::Writing, P::Verifying, P::Restarting, P::Done},
         VerifyResult::Passed, true},
        {"move, read-back off", sim::makeDefaultStation(), false,
         {P::Opening, P::Reading, P::Writing, P::Restarting, P::Done}, VerifyResult::NotRun, true},
        {"already moved", movedStation(), true, {P::Opening, P::Reading, P::Done}, VerifyResult::NotRun, false},
    };
    for (const auto& c : cases) {
        sim::PtyStationHost host(c.station);
        ASSERT_TRUE(host.start());
        WorkThread thread;
        thread.setVerifyWrites(c.verify);
        std::vector<JobPhase> seen;
        thread.setPhaseObserver([&seen](JobPhase phase) { seen.push_back(phase); });
        const JobOutcome outcome = runJob(thread, host.slavePathW());
        EXPECT_EQ(outcome.signalCount(), 1) << c.what;
        EXPECT_EQ(seen, c.phases) << c.what;
        EXPECT_EQ(thread.verifyResult(), c.verifyResult) << c.what;
        EXPECT_EQ(!thread.backupPath().isEmpty(), c.backup) << c.what;
        EXPECT_EQ(thread.stationAddress(), 0x0123) << c.what;
        std::vector<std::uint16_t> order;
        for (const SeenWrite& w : romWrites(host.frames())) order.push_back(w.address);
        const std::vector<std::uint16_t> written = c.backup ? std::vector<std::uint16_t>{0xC00C, 0xC080, 0xC004}
                                                            : std::vector<std::uint16_t>{};
        EXPECT_EQ(order, written) << c.what;
    }
}

// A stop asked before the first write ends the run at its next exchange with
// nothing written and no backup; once the writes have begun it is refused
// and the run goes on to the restart.
TEST_F(WorkThreadTest, AStopIsTakenBeforeTheFirstWriteAndRefusedAfterIt) {
    const struct {
        const char* what;
        JobPhase askedAt;   // Reading: when the head has been read
        bool taken;
    } cases[] = {
        {"after the head", JobPhase::Reading, true},
        {"during the read-back", JobPhase::Verifying, false},
    };
    for (const auto& c : cases) {
        sim::PtyStationHost host;
        ASSERT_TRUE(host.start());
        WorkThread thread;
        thread.setVerifyWrites(true);
        std::optional<bool> answer;   // asked once, at the first chance
        auto ask = [&] {
            if (!answer) answer = thread.requestStopBeforeWrites();
        };
        if (c.askedAt == JobPhase::Reading) thread.setAddressObserver([&](int) { ask(); });
        thread.setPhaseObserver([&](JobPhase phase) {
            if (phase == c.askedAt && c.askedAt != JobPhase::Reading) ask();
        });
        const JobOutcome outcome = runJob(thread, host.slavePathW());
        EXPECT_EQ(answer, std::optional<bool>(c.taken)) << c.what;
        ASSERT_EQ(outcome.signalCount(), 1) << c.what;
        if (c.taken) {
            EXPECT_EQ(outcome.code(), job_messages::kCodeStopped) << c.what;
            EXPECT_EQ(outcome.text(), job_messages::stopped()) << c.what;
            EXPECT_TRUE(romWrites(host.frames()).empty()) << c.what;
            EXPECT_TRUE(thread.backupPath().isEmpty()) << c.what;
        } else {
            EXPECT_EQ(outcome.moved, 1) << c.what << " " << outcome.code();
            EXPECT_EQ(host.snapshot().rom[0xC004], 0x3A) << c.what;
        }
    }
}

// The window runs one WorkThread again and again: what one run left (its
// partly-written writes, its read-back check and mismatches) is never part
// of the next run's record, whatever the next station does.
TEST_F(WorkThreadTest, ARunAfterAFailedMoveCarriesNothingOfIt) {
    // The exchange of the first write in a clean move: the power fails just
    // after it in the partly-written case.
    int firstWrite = -1;
    {
        sim::PtyStationHost clean;
        ASSERT_TRUE(clean.start());
        WorkThread thread;
        ASSERT_EQ(runJob(thread, clean.slavePathW()).moved, 1);
        const std::vector<Bytes> requests = framesTo(clean, sim::WireFrame::Direction::ToStation);
        for (std::size_t i = 0; i < requests.size() && firstWrite < 0; ++i)
            if (requests[i].size() > 2 && requests[i][2] == 0x06) firstWrite = static_cast<int>(i);
        ASSERT_GE(firstWrite, 0);
    }
    sim::FaultScript keepsNothing, lostAfterFirstWrite, silent;
    keepsNothing.always(sim::Fault::ignoreWrite());
    lostAfterFirstWrite.powerLostFrom(firstWrite + 1);
    silent.powerLostFrom(0);
    const struct {
        const char* what;
        sim::FaultScript first;
        RunOutcome firstOutcome;
        sim::StationModel second;
        sim::FaultScript secondFaults;
        RunOutcome secondOutcome;
    } cases[] = {
        {"verify failed, then silent", keepsNothing, RunOutcome::VerifyFailed, sim::makeDefaultStation(), silent,
         RunOutcome::NoAnswer},
        {"verify failed, then already moved", keepsNothing, RunOutcome::VerifyFailed, movedStation(), {},
         RunOutcome::AlreadyMoved},
        {"partly written, then silent", lostAfterFirstWrite, RunOutcome::PartlyWritten, sim::makeDefaultStation(),
         silent, RunOutcome::NoAnswer},
        {"partly written, then already moved", lostAfterFirstWrite, RunOutcome::PartlyWritten, movedStation(), {},
         RunOutcome::AlreadyMoved},
    };
    for (const auto& c : cases) {
        WorkThread thread;
        thread.setVerifyWrites(true);
        sim::PtyStationHost first;
        first.setFaults(c.first);
        ASSERT_TRUE(first.start()) << c.what;
        runJob(thread, first.slavePathW());
        ASSERT_EQ(thread.result().outcome, c.firstOutcome) << c.what;

        sim::PtyStationHost second(c.second);
        second.setFaults(c.secondFaults);
        ASSERT_TRUE(second.start()) << c.what;
        const JobOutcome outcome = runJob(thread, second.slavePathW());
        EXPECT_EQ(outcome.signalCount(), 1) << c.what;
        EXPECT_EQ(thread.result().outcome, c.secondOutcome) << c.what;
        EXPECT_FALSE(thread.partlyWritten()) << c.what;
        EXPECT_FALSE(thread.result().partlyWritten) << c.what;
        EXPECT_EQ(thread.verifyResult(), VerifyResult::NotRun) << c.what;
        EXPECT_TRUE(thread.verifyMismatches().isEmpty()) << c.what;
    }
}
