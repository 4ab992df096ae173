#include "ChildRun.h"

#include <QFile>
#include <QProcessEnvironment>
#include <utility>

#include "ChildReport.h"
#include "ExitStatus.h"
#include "StopRequests.h"

ChildRun::ChildRun(const QString& program, const QStringList& args, const QString& traceFile, bool forkable,
                   QObject* parent)
    : QObject(parent), program_(program), traceFile_(traceFile), args_(args) {
    // A programming run takes its stop as a line on its standard input: the
    // one way that reaches it from a window too, where no console is shared
    // and, on Windows, no signal exists.
    stopsByLine_ = args.contains(QStringLiteral("--report-phases"));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (stopsByLine_) environment.insert(QLatin1String(stop_requests::kStopInputVariable), QStringLiteral("1"));
    process_ = ChildProcess::make({program, args, traceFile, environment.toStringList(), forkable});
    connect(process_.get(), &ChildProcess::errorOutput, this, &ChildRun::readLines);
    connect(process_.get(), &ChildProcess::ended, this, &ChildRun::onFinished);
    connect(process_.get(), &ChildProcess::failedToStart, this, [this](const QString& why) {
        lastText_ = QStringLiteral("could not start %1: %2").arg(program_, why);
        exitStatus_ = exit_status::otherFailure;
        appendStory();
        emit finished();
    });
}

ChildRun::~ChildRun() = default;

void ChildRun::start() {
    timer_.start();
    process_->start();
}

void ChildRun::forward(int signal) {
    if (!process_->running()) return;
    forwarded_ = true;
    if (stopsByLine_ && process_->writeInput(stop_requests::kStopLine)) return;
    process_->signal(signal);
}

void ChildRun::readLines(const QByteArray& bytes) {
    pending_ += bytes;
    qsizetype end;
    while ((end = pending_.indexOf('\n')) >= 0) {
        const QByteArray line = pending_.left(end + 1);
        pending_.remove(0, end + 1);
        if (!std::exchange(overlong_, false)) take(line.left(kMaxLineBytes));
    }
    if (pending_.size() <= kMaxLineBytes) return;
    if (!overlong_) take(pending_.left(kMaxLineBytes));
    overlong_ = true;
    pending_.clear();
}

void ChildRun::take(const QByteArray& raw) {
    const child_report::Line line = child_report::parse(raw);
    switch (line.kind) {
    case child_report::Line::Kind::Phase:
        emit phase(line.phase);
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
    case child_report::Line::Kind::Ledger:
        ledgerEntry_ = line.entry;
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

void ChildRun::onFinished(int code, bool crashed) {
    // A last line without its line end is still the child's.
    const QByteArray rest = std::exchange(pending_, QByteArray());
    if (!rest.trimmed().isEmpty() && !overlong_) take(rest);
    if (!crashed) {
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
        emit problem({FleetProblem::Kind::TraceIncomplete, traceFile_, file.errorString()});
}
