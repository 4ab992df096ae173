// A fleet's run started as a fork of the launcher behaves as one started
// anew: its exit status, standard error, standard output, environment,
// working folder and standard input; and a launcher that goes away leaves
// no run without an end.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <csignal>
#include <string_view>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "ChildProcess.h"
#include "LauncherMessages.h"

extern char** environ;

namespace {

struct StartedRun {
    std::unique_ptr<ChildProcess> child;
    QByteArray said;
    std::unique_ptr<QSignalSpy> ended;
};

// Starts the fixture with `args`; `forkable` asks for a fork of its launcher.
StartedRun start(const QStringList& args, bool forkable, const QString& output = QString()) {
    QStringList environment = QProcessEnvironment::systemEnvironment().toStringList();
    environment << QStringLiteral("FIXTURE_WORD=carried");
    StartedRun run;
    run.child = ChildProcess::make({QStringLiteral(CHILD_FIXTURE), args, output, environment, forkable});
    QObject::connect(run.child.get(), &ChildProcess::errorOutput, [said = &run.said](const QByteArray& b) { *said += b; });
    run.ended = std::make_unique<QSignalSpy>(run.child.get(), &ChildProcess::ended);
    run.child->start();
    return run;
}

// The pid of the process that started the run: the launcher for a fork.
qint64 parentOf(const StartedRun& run) {
    const QByteArray line = run.said.split('\n').value(0);
    return line.startsWith("parent ") ? line.mid(7).toLongLong() : -1;
}

const char* way(bool forkable) { return forkable ? "forked" : "anew"; }

TEST(ChildProcessTest, AForkedRunTellsWhatARunStartedAnewTells) {
    for (const bool forkable : {true, false}) {
        QTemporaryDir dir;
        const QString trace = dir.filePath(QStringLiteral("trace.txt"));
        StartedRun run = start({QStringLiteral("report"), QStringLiteral("3")}, forkable, trace);
        ASSERT_TRUE(run.ended->wait(10000)) << way(forkable);
        EXPECT_EQ(run.ended->at(0).at(0).toInt(), 3) << way(forkable);
        EXPECT_FALSE(run.ended->at(0).at(1).toBool()) << way(forkable);
        EXPECT_TRUE(run.said.endsWith("\nfolder " + QFile::encodeName(QDir::currentPath()) +
                                      "\nword carried\nno line end"))
            << way(forkable) << ": " << run.said.constData();
        // A fork's parent is the launcher, not this process.
        EXPECT_EQ(parentOf(run) != QCoreApplication::applicationPid(), forkable) << way(forkable);
        QFile file(trace);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << way(forkable);
        EXPECT_EQ(file.readAll(), QByteArray("traced\n")) << way(forkable);
    }
}

// Exactly the environment given, its first variable as much as its last
// (HOME first: a run without it has no ledger), nothing of the launcher's.
TEST(ChildProcessTest, ARunSeesExactlyTheEnvironmentItWasGiven) {
    const QStringList given = {QStringLiteral("HOME=/home/tech"), QStringLiteral("LANG=ru_RU.UTF-8"),
                               QStringLiteral("FIXTURE_WORD=carried")};
    for (const bool forkable : {true, false}) {
        std::unique_ptr<ChildProcess> child =
            ChildProcess::make({QStringLiteral(CHILD_FIXTURE), {QStringLiteral("env")}, {}, given, forkable});
        QByteArray said;
        QObject::connect(child.get(), &ChildProcess::errorOutput, [&said](const QByteArray& b) { said += b; });
        QSignalSpy ended(child.get(), &ChildProcess::ended);
        child->start();
        ASSERT_TRUE(ended.wait(10000)) << way(forkable);
        QStringList seen = QString::fromLocal8Bit(said).split(QLatin1Char('\n'), Qt::SkipEmptyParts).mid(1);
        seen.sort();
        QStringList expected = given;
        expected.sort();
        EXPECT_EQ(seen, expected) << way(forkable) << ": " << said.constData();
    }
}

TEST(ChildProcessTest, ALineReachesTheRunsInputAndASignalEndsItAsCrashed) {
    for (const bool forkable : {true, false}) {
        StartedRun echo = start({QStringLiteral("echo")}, forkable);
        ASSERT_TRUE(echo.child->writeInput("stop\n")) << way(forkable);
        ASSERT_TRUE(echo.ended->wait(10000)) << way(forkable);
        EXPECT_EQ(echo.ended->at(0).at(0).toInt(), 0) << way(forkable);
        EXPECT_TRUE(echo.said.endsWith("got stop\n")) << way(forkable);

        // Given at once, before the start has been answered: it reaches the
        // run once it has started.
        StartedRun waiting = start({QStringLiteral("echo")}, forkable);
        EXPECT_TRUE(waiting.child->running()) << way(forkable);
        waiting.child->signal(SIGKILL);
        ASSERT_TRUE(waiting.ended->wait(10000)) << way(forkable);
        EXPECT_TRUE(waiting.ended->at(0).at(1).toBool()) << way(forkable);
        EXPECT_FALSE(waiting.child->running()) << way(forkable);
    }
}

TEST(ChildProcessTest, ARunWhoseLauncherWentAwayStillEndsAndTheNextRunStarts) {
    StartedRun byInput = start({QStringLiteral("echo")}, true), bySignal = start({QStringLiteral("echo")}, true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return parentOf(byInput) > 0 && parentOf(bySignal) > 0; }, 10000));
    const qint64 launcher = parentOf(byInput);
    ASSERT_NE(launcher, QCoreApplication::applicationPid());
    ASSERT_EQ(::kill(static_cast<pid_t>(launcher), SIGKILL), 0);
    // Once the parent has learnt it (it reaps the launcher), its runs' ends
    // show as the ends of their output and count as crashes; a signal still
    // reaches a run (a stop, Ctrl-C).
    ASSERT_TRUE(QTest::qWaitFor([&] { return !QFileInfo::exists(QStringLiteral("/proc/%1").arg(launcher)); }, 10000));
    QCoreApplication::sendPostedEvents();   // what the parent tells its runs then
    ASSERT_TRUE(byInput.child->writeInput("x\n"));
    bySignal.child->signal(SIGTERM);
    for (StartedRun* orphan : {&byInput, &bySignal}) {
        const char* how = orphan == &byInput ? "ended by its input" : "ended by a signal";
        ASSERT_TRUE(!orphan->ended->isEmpty() || orphan->ended->wait(10000)) << how;
        EXPECT_TRUE(orphan->ended->at(0).at(1).toBool()) << how;
    }

    StartedRun next = start({QStringLiteral("report"), QStringLiteral("0")}, true);
    ASSERT_TRUE(next.ended->wait(10000));
    EXPECT_EQ(next.ended->at(0).at(0).toInt(), 0);
    EXPECT_FALSE(next.ended->at(0).at(1).toBool());
}

// A run that ends while the next run's start waits for the launcher's
// answer: its end comes first on the line and is kept, so the run ends.
// The first run is reaped before the second is asked for: the launcher has
// said the end already when it answers the start.
TEST(ChildProcessTest, ARunEndingWhileTheNextStartWaitsForItsAnswerStillEnds) {
    StartedRun first = start({QStringLiteral("report"), QStringLiteral("3")}, true);
    ASSERT_TRUE(QTest::qWaitFor([&first] { return first.child->pid() > 0; }, 10000));
    const qint64 pid = first.child->pid();
    QElapsedTimer waited;
    waited.start();
    while (QFileInfo::exists(QStringLiteral("/proc/%1").arg(pid)) && waited.elapsed() < 10000) QThread::usleep(200);
    ASSERT_FALSE(QFileInfo::exists(QStringLiteral("/proc/%1").arg(pid))) << "the launcher did not reap the run";
    StartedRun second = start({QStringLiteral("echo")}, true);   // runs until it gets a line
    ASSERT_TRUE(QTest::qWaitFor([&second] { return second.child->pid() > 0; }, 10000));
    ASSERT_TRUE(!first.ended->isEmpty() || first.ended->wait(10000)) << "the first run's end was lost";
    EXPECT_EQ(first.ended->at(0).at(0).toInt(), 3);
    EXPECT_NE(parentOf(first), QCoreApplication::applicationPid()) << "not a fork";
    EXPECT_TRUE(second.child->running());
    ASSERT_TRUE(second.child->writeInput("stop\n"));
    ASSERT_TRUE(second.ended->wait(10000));
    EXPECT_EQ(second.ended->at(0).at(0).toInt(), 0);
}

// A start never waits for the launcher: with the launcher held after its
// first answer (launcherHold), the next start returns unanswered, the event
// loop goes on, and once the answer is overdue the launcher is given up and
// the run is started anew: it still runs, with the input it was given
// meanwhile.
TEST(ChildProcessTest, AStartTheLauncherDoesNotAnswerIsMadeAnewWithoutWaiting) {
    const int hold = ::eventfd(0, EFD_CLOEXEC);
    ASSERT_GE(hold, 0);
    // Inherited by the launcher only: this process's copy stays, the
    // launcher's is a duplicate without close-on-exec.
    const int inherited = ::fcntl(hold, F_DUPFD, 3);
    ASSERT_GE(inherited, 0);
    qputenv("RECHANNEL_LAUNCHER_HOLD_FD", QByteArray::number(inherited));
    StartedRun first = start({QStringLiteral("echo")}, true);
    ASSERT_TRUE(QTest::qWaitFor([&first] { return parentOf(first) > 0; }, 10000));
    ASSERT_NE(parentOf(first), QCoreApplication::applicationPid()) << "not a fork of the launcher";

    StartedRun held = start({QStringLiteral("echo")}, true);
    EXPECT_EQ(held.child->pid(), 0) << "the start waited for the launcher's answer";
    EXPECT_TRUE(held.child->running());
    ASSERT_TRUE(held.child->writeInput("stop\n"));
    ASSERT_TRUE(held.ended->wait(20000)) << "the start the launcher never answered was not made anew";
    EXPECT_EQ(held.ended->at(0).at(0).toInt(), 0);
    EXPECT_TRUE(held.said.endsWith("got stop\n")) << held.said.constData();
    EXPECT_EQ(parentOf(held), QCoreApplication::applicationPid()) << "started anew by this process";
    // The run the launcher did start still ends, as one whose launcher went.
    ASSERT_TRUE(first.child->writeInput("x\n"));
    ASSERT_TRUE(!first.ended->isEmpty() || first.ended->wait(10000));
    qunsetenv("RECHANNEL_LAUNCHER_HOLD_FD");
    ::close(inherited);
    ::close(hold);
}

// A window closed under a run deletes it and goes: the run is killed, not
// left behind with the launcher gone. The launcher is held (launcherHold)
// from the run's start until its parent has gone, so the signal for the run
// is still unread then, as it can be on a loaded machine.
TEST(ChildProcessTest, ARunDeletedAsItsParentEndsIsKilled) {
    const int hold = ::eventfd(0, 0);   // inherited by the parent and its launcher
    ASSERT_GE(hold, 0);
    QProcess parent;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("RECHANNEL_LAUNCHER_HOLD_FD"), QString::number(hold));
    parent.setProcessEnvironment(environment);
    parent.start(QStringLiteral(CHILD_FIXTURE), {QStringLiteral("parent")});
    const bool ended = parent.waitForFinished(20000);
    ::close(hold);
    ASSERT_TRUE(ended);
    ASSERT_EQ(parent.exitCode(), 0) << parent.readAllStandardError().constData();
    const QByteArray pid = parent.readAllStandardOutput().trimmed();
    ASSERT_GT(pid.toLongLong(), 0);
    // Gone, or a zombie nobody reaps in a container without an init.
    const auto dead = [&pid] {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(QString::fromLatin1(pid)));
        if (!stat.open(QIODevice::ReadOnly)) return true;
        const QByteArray fields = stat.readAll();
        return fields.mid(fields.lastIndexOf(')') + 2, 1) == "Z";
    };
    const bool killed = QTest::qWaitFor(dead, 10000);
    if (!killed) ::kill(static_cast<pid_t>(pid.toLongLong()), SIGKILL);
    EXPECT_TRUE(killed) << "run " << pid.constData() << " outlived its parent";
}

// What reaches the launcher is checked before anything is forked: a request
// cut short, with an argument count it does not carry, or without its three
// descriptors is refused, and the launcher serves the next one.
TEST(ChildProcessTest, TheLauncherRefusesAMalformedRequestAndServesTheNext) {
    using namespace launcher_messages;
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair), 0);
    posix_spawn_file_actions_t files;
    ::posix_spawn_file_actions_init(&files);
    ::posix_spawn_file_actions_adddup2(&files, pair[1], STDIN_FILENO);
    char* argv[] = {const_cast<char*>(CHILD_FIXTURE), const_cast<char*>(kServeForkedRunsArgument), nullptr};
    pid_t launcher = 0;
    ASSERT_EQ(::posix_spawn(&launcher, CHILD_FIXTURE, &files, nullptr, argv, environ), 0);
    ::posix_spawn_file_actions_destroy(&files);
    ::close(pair[1]);
    const auto next = [&] {
        Message m;
        pollfd p{pair[0], POLLIN, 0};
        EXPECT_EQ(::poll(&p, 1, 10000), 1);
        EXPECT_EQ(receiveMessage(pair[0], m, kMostAnswer, MSG_DONTWAIT), 1);
        return m;
    };
    EXPECT_EQ(next().kind, Kind::Ready);
    const int quiet = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    const int fds[kDescriptors] = {quiet, quiet, quiet};
    using namespace std::string_view_literals;
    const auto request = [](std::string_view bytes) { return std::vector<char>(bytes.begin(), bytes.end()); };
    const struct {
        const char* what;
        std::vector<char> bytes;
        int descriptors;
    } refused[] = {
        {"cut short", request("S/\0" "2\0" "x"sv), kDescriptors},
        {"more arguments than it has", request("S/\0" "9\0" "x\0"sv), kDescriptors},
        {"one argument more than it has", request("S/\0" "2\0" "x\0"sv), kDescriptors},
        {"a count that is no number", request("S/\0" "2x\0" "x\0" "y\0"sv), kDescriptors},
        {"no descriptors", request("S/\0" "1\0" "x\0"sv), 0},
    };
    for (const auto& c : refused) {
        ASSERT_TRUE(sendMessage(pair[0], c.bytes, fds, c.descriptors)) << c.what;
        const Message answer = next();
        EXPECT_EQ(answer.kind, Kind::Failed) << c.what;
        EXPECT_EQ(intAt(answer, 0), EINVAL) << c.what;
    }
    const QByteArray fixture(CHILD_FIXTURE);
    std::vector<char> run = request("S/\0" "3\0"sv);
    run.insert(run.end(), fixture.begin(), fixture.end());
    const std::string_view rest = "\0report\0" "4\0"sv;
    run.insert(run.end(), rest.begin(), rest.end());
    ASSERT_TRUE(sendMessage(pair[0], run, fds, kDescriptors));
    const Message started = next();
    ASSERT_EQ(started.kind, Kind::Started);
    const Message ended = next();
    EXPECT_EQ(ended.kind, Kind::Ended);
    EXPECT_EQ(intAt(ended, 0), intAt(started, 0));
    EXPECT_TRUE(WIFEXITED(intAt(ended, 1)) && WEXITSTATUS(intAt(ended, 1)) == 4);
    ::close(quiet);
    ::close(pair[0]);   // the launcher ends with its input
    int status = -1;
    EXPECT_EQ(::waitpid(launcher, &status, 0), launcher);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace
