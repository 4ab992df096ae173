#include "ChildRun.h"

#include <QFile>

#include "ChildReport.h"
#include "ExitStatus.h"
#include "StopRequests.h"

ChildRun::ChildRun(const QString& program, const QStringList& args, const QString& traceFile, QObject* parent)
    : QObject(parent), program_(program), traceFile_(traceFile), args_(args) {
    if (traceFile.isEmpty()) process_.setStandardOutputFile(QProcess::nullDevice());
    else process_.setStandardOutputFile(traceFile, QIODevice::Truncate);
    // Its own process group: a Ctrl-C on the terminal reaches the runner
    // only, which passes it on once to every child.
    stop_requests::keepChildApart(process_);
    // A programming run takes its stop as a line on its standard input: the
    // one way that reaches it from a window too, where no console is shared
    // and, on Windows, no signal exists.
    stopsByLine_ = args.contains(QStringLiteral("--report-phases"));
    if (stopsByLine_) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QLatin1String(stop_requests::kStopInputVariable), QStringLiteral("1"));
        process_.setProcessEnvironment(environment);
    }
    connect(&process_, &QProcess::readyReadStandardError, this, &ChildRun::readLines);
    connect(&process_, &QProcess::finished, this, &ChildRun::onFinished);
    connect(&process_, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart) return;
        lastText_ = QStringLiteral("could not start %1: %2").arg(program_, process_.errorString());
        exitStatus_ = exit_status::otherFailure;
        appendStory();
        emit finished();
    });
}

ChildRun::~ChildRun() {
    if (process_.state() != QProcess::NotRunning) {
        process_.kill();
        process_.waitForFinished();
    }
}

void ChildRun::start() {
    process_.setProcessChannelMode(QProcess::SeparateChannels);
    // Standard output goes to the trace file; the report lines are read here.
    process_.setReadChannel(QProcess::StandardError);
    timer_.start();
    process_.start(program_, args_);
}

void ChildRun::forward(int signal) {
    const qint64 pid = process_.processId();
    if (pid <= 0 || process_.state() == QProcess::NotRunning) return;
    forwarded_ = true;
    if (stopsByLine_ && process_.write(stop_requests::kStopLine) > 0) return;
    stop_requests::forwardToChild(pid, signal);
}

void ChildRun::readLines() {
    while (process_.canReadLine()) take(process_.readLine());
}

void ChildRun::take(const QByteArray& raw) {
    const child_report::Line line = child_report::parse(raw);
    switch (line.kind) {
    case child_report::Line::Kind::Phase:
        emit phase(line.text);
        break;
    case child_report::Line::Kind::Address:
        address_ = line.address;
        if (address_) emit addressRead(*address_);
        break;
    case child_report::Line::Kind::Result:
        address_ = line.address;
        outcome_ = line.outcome;
        backup_ = line.backup;
        break;
    case child_report::Line::Kind::Outcome:
        outcomeText_ = line.text;
        break;
    case child_report::Line::Kind::Text:
        if (line.text.trimmed().isEmpty()) break;
        lastText_ = line.text;
        said_ << line.text;
        emit text(line.text);
        break;
    }
}

void ChildRun::onFinished(int code, QProcess::ExitStatus status) {
    // A last line without its line end is still the child's.
    readLines();
    const QByteArray rest = process_.readAllStandardError();
    if (!rest.trimmed().isEmpty()) take(rest);
    if (status == QProcess::NormalExit) {
        exitStatus_ = code;
    } else {
        const RunOutcome ended = forwarded_ ? RunOutcome::Interrupted : RunOutcome::Failed;
        exitStatus_ = exitStatusOf(ended);
        // A result line means the child logged its run before it died.
        killed_ = !outcome_;
        if (killed_) outcome_ = ended;
    }
    appendStory();
    emit finished();
}

// The child has ended, so everything it traced is in the file already.
void ChildRun::appendStory() {
    if (traceFile_.isEmpty()) return;
    // The station lines as a single-port run ends with them: only for a
    // station that was read.
    QStringList lines = said_;
    if (address_) {
        lines << QStringLiteral("station address: %1").arg(*address_);
        lines << QStringLiteral("backup: %1").arg(backup_.isEmpty() ? QStringLiteral("no backup") : backup_);
    }
    if (!outcomeText_.isEmpty()) lines << outcomeText_;
    else if (killed_) lines << QStringLiteral("ended by a signal before it reported its outcome (%1)").arg(outcomeName(*outcome_));
    else if (!lastText_.isEmpty() && !said_.contains(lastText_)) lines << lastText_;   // it could not start
    QFile file(traceFile_);
    const bool opened = file.open(QIODevice::WriteOnly | QIODevice::Append);
    // A blank line parts the story from a trace above it.
    const QByteArray bytes = ((opened && file.size() > 0 ? QStringLiteral("\n") : QString()) +
                              lines.join(QLatin1Char('\n')) + QLatin1Char('\n'))
                                 .toUtf8();
    if (!opened || file.write(bytes) != bytes.size())
        emit text(QStringLiteral("the trace %1 lacks the run's last lines: %2").arg(traceFile_, file.errorString()));
}
