// A port's activity as its worker tells it, from the lines a programming
// child writes: the state, phase, address and outcome in types, and the
// board's English words for each. A bent line changes nothing the worker
// tells; it reaches people as the child's text.
#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "PortWorker.h"
#include "ScriptChild.h"
#include "StatusBoard.h"

namespace {

// Stands in for rechannel-cli's programming run: writes `lines` to standard
// error as they are and exits with `status`.
QString fakeProgram(const QTemporaryDir& dir, const QByteArray& lines, int status) {
    const QString path = dir.filePath(QStringLiteral("program"));
    writeTestFile(path + QStringLiteral(".lines"), lines);
    return shellScript(path, "cat \"$0.lines\" >&2\nexit " + QByteArray::number(status) + "\n");
}

struct Told {
    std::vector<PortActivity> activities;
    QStringList messages;
    std::vector<PortRunRecord> runs;
};

// One run of the worker on a port of its own, without --wait: what it told.
Told runOnce(const QByteArray& lines, int status, bool allPorts) {
    QTemporaryDir dir;
    FleetSettings settings;
    settings.program = fakeProgram(dir, lines, status);
    settings.traceDir = dir.path();
    settings.silentIsNoStation = allPorts;
    PortWorker worker(FleetPort{QStringLiteral("Dock 1"), dir.filePath(QStringLiteral("tty")), false}, settings,
                      [](const PortWorker*, const QString&) { return false; });
    Told told;
    QObject::connect(&worker, &PortWorker::activity, [&](const PortActivity& now) { told.activities.push_back(now); });
    QObject::connect(&worker, &PortWorker::message, [&](const QString& line) { told.messages << line; });
    QSignalSpy done(&worker, &PortWorker::done);
    worker.start();
    EXPECT_TRUE(worker.finished() || done.wait(30000)) << "the run did not end";
    told.runs = worker.runs();
    return told;
}

using State = PortActivity::State;
PortActivity running(JobPhase phase, std::optional<int> address = std::nullopt) {
    return PortActivity::running(phase, address);
}
PortActivity ended(RunOutcome outcome, std::optional<int> address = std::nullopt, bool noStation = false) {
    return PortActivity::ended(outcome, address, noStation);
}

TEST(PortActivity, ChildReportLinesBecomeTheWorkersActivityAndTheBoardsWords) {
    const QByteArray withNul("@rechannel address 29\0" "1", 23);
    const QByteArray bent =
        "@rechannel phase writ\n@rechannel address 70000\n@rechannel result x\tmoved\t\t\n" + withNul + '\n';
    const struct {
        const char* what;
        QByteArray lines;
        int status;
        bool allPorts;
        std::vector<PortActivity> activities;
        QStringList board;      // boardStatus of each
        QStringList messages;   // the child's text, as it reaches people
    } cases[] = {
        {"a station moved, phase by phase",
         "@rechannel phase opening\n@rechannel phase reading\n@rechannel address 291\n@rechannel phase writing\n"
         "@rechannel phase verifying\n@rechannel phase restarting\n@rechannel result 291\tmoved\t/b/291.bin\tyes\n"
         "@rechannel outcome Станция переведена на новую частоту!\n",
         0, false,
         {running(JobPhase::Opening), running(JobPhase::Reading), running(JobPhase::Reading, 291),
          running(JobPhase::Writing, 291), running(JobPhase::Verifying, 291), running(JobPhase::Restarting, 291),
          ended(RunOutcome::Moved, 291)},
         {"-  opening", "-  reading", "291  reading", "291  writing", "291  verifying", "291  restarting", "291  moved"},
         {}},
        {"bent lines change nothing and reach people as text",
         "@rechannel phase reading\n" + bent + "@rechannel address 300\n@rechannel result 300\tno-answer\t\t\n", 5, false,
         {running(JobPhase::Opening), running(JobPhase::Reading), running(JobPhase::Reading, 300),
          ended(RunOutcome::NoAnswer, 300)},
         {"-  opening", "-  reading", "300  reading", "300  no-answer"},
         {"@rechannel phase writ", "@rechannel address 70000", "@rechannel result x\tmoved\t\t",
          QString::fromUtf8(withNul)}},
        {"lines ended by CR LF", "@rechannel phase writing\r\n@rechannel address 12\r\n@rechannel result 12\tpartly-written\t\t\r\n",
         6, false,
         {running(JobPhase::Opening), running(JobPhase::Writing), running(JobPhase::Writing, 12),
          ended(RunOutcome::PartlyWritten, 12)},
         {"-  opening", "-  writing", "12  writing", "12  partly-written"},
         {}},
        {"a result naming no outcome is no result: the run failed",
         "@rechannel phase reading\n@rechannel result 291\tMOVED\t\t\n", 0, false,
         {running(JobPhase::Opening), running(JobPhase::Reading), ended(RunOutcome::Failed)},
         {"-  opening", "-  reading", "-  failed"},
         {"@rechannel result 291\tMOVED\t\t"}},
        {"nothing answered on a port of --all: no station",
         "@rechannel phase opening\n@rechannel phase reading\n@rechannel result \tno-answer\t\t\n", 5, true,
         {running(JobPhase::Opening), running(JobPhase::Reading), ended(RunOutcome::NoAnswer, std::nullopt, true)},
         {"-  opening", "-  reading", "-  no-station"},
         {}},
        {"a line far longer than any report line is cut, and the lines after it still read",
         QByteArray(3 * ChildRun::kMaxLineBytes, 'x') + "\n@rechannel result 5\tmoved\t\t\n", 0, false,
         {running(JobPhase::Opening), ended(RunOutcome::Moved, 5)},
         {"-  opening", "5  moved"},
         {QString(ChildRun::kMaxLineBytes, QLatin1Char('x'))}},
        {"nothing answered on a port named: no answer", "@rechannel result \tno-answer\t\t\n", 5, false,
         {running(JobPhase::Opening), ended(RunOutcome::NoAnswer)},
         {"-  opening", "-  no-answer"},
         {}},
    };
    for (const auto& c : cases) {
        const Told told = runOnce(c.lines, c.status, c.allPorts);
        EXPECT_EQ(told.activities.size(), c.activities.size()) << c.what;
        QStringList board;
        for (std::size_t i = 0; i < told.activities.size(); ++i) {
            if (i < c.activities.size()) {
                EXPECT_TRUE(told.activities[i] == c.activities[i]) << c.what << ", activity " << i;
            }
            board << boardStatus(told.activities[i]);
        }
        EXPECT_EQ(board.join(QLatin1Char('|')).toStdString(), c.board.join(QLatin1Char('|')).toStdString()) << c.what;
        EXPECT_EQ(told.messages.join(QLatin1Char('|')).toStdString(), c.messages.join(QLatin1Char('|')).toStdString())
            << c.what;
        ASSERT_EQ(told.runs.size(), 1u) << c.what;
        EXPECT_EQ(told.runs[0].outcome, c.activities.back().outcome) << c.what;
        EXPECT_EQ(told.runs[0].address, c.activities.back().address) << c.what;
    }
}

// The waits between runs in the board's words, and every phase and outcome
// in words of its own: the line of ports that do not fit counts them by
// these words, so two that read alike would be counted as one.
TEST(PortActivity, TheBoardSaysEachStateInWordsOfItsOwn) {
    const struct {
        PortActivity activity;
        const char* status;
    } cases[] = {
        {PortActivity::waiting(State::WaitingForPort), "waiting for the port"},
        {PortActivity::waiting(State::WaitingForStation), "waiting for a station"},
        {PortActivity::waiting(State::WaitingForLeave, 291), "291 done; waiting for the next station"},
        {running(JobPhase::Restarting, 65535), "65535  restarting"},
        {ended(RunOutcome::VerifyFailed, 0), "0  verify-failed"},
        {ended(RunOutcome::NoAnswer, std::nullopt, true), "-  no-station"},
    };
    for (const auto& c : cases) EXPECT_EQ(boardStatus(c.activity).toStdString(), c.status);

    QStringList words;
    for (const JobPhase phase : {JobPhase::Opening, JobPhase::Reading, JobPhase::Writing, JobPhase::Verifying,
                                 JobPhase::Restarting, JobPhase::Done})
        words << boardWords(running(phase, 1));
    for (const RunOutcomeRow& row : kRunOutcomes) words << boardWords(ended(row.outcome, 1));
    words << boardWords(ended(RunOutcome::NoAnswer, std::nullopt, true));
    for (const State state : {State::WaitingForPort, State::WaitingForStation, State::WaitingForLeave})
        words << boardWords(PortActivity::waiting(state, 1));
    for (const QString& said : words) {
        EXPECT_EQ(words.count(said), 1) << said.toStdString();
        EXPECT_FALSE(said.isEmpty());
        for (const QChar c : said) EXPECT_LT(c.unicode(), 0x80) << "the board speaks English: " << said.toStdString();
    }
}

}  // namespace
