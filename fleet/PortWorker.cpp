#include "PortWorker.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include "JobMessages.h"
#include "Ledger.h"

namespace {

// A port name as a file name: its last path component, anything but
// letters, digits, '.', '-' and '_' as '_'.
QString fileNamePart(const QString& name) {
    QString part = name.mid(name.lastIndexOf(QLatin1Char('/')) + 1);
    for (QChar& c : part)
        if (!c.isLetterOrNumber() && c != QLatin1Char('.') && c != QLatin1Char('-')) c = QLatin1Char('_');
    return part.isEmpty() ? QStringLiteral("port") : part;
}

}  // namespace

QString addressText(std::optional<int> address) { return address ? QString::number(*address) : QStringLiteral("-"); }

QString deviceIdentity(const QString& path) {
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? path : canonical;
}

QString DeviceIdentities::of(const QString& path) {
    if (known_.isEmpty()) QTimer::singleShot(0, this, [this] { known_.clear(); });
    auto known = known_.find(path);
    if (known == known_.end()) known = known_.insert(path, deviceIdentity(path));
    return *known;
}

PortWorker::PortWorker(FleetPort port, FleetSettings settings, DeviceTaken taken, QObject* parent)
    : QObject(parent), port_(std::move(port)), settings_(std::move(settings)), taken_(std::move(taken)) {
    pause_.setSingleShot(true);
    connect(&pause_, &QTimer::timeout, this, &PortWorker::probe);
    connect(&probe_, &PortProbe::answered, this, &PortWorker::onProbed);
}

void PortWorker::start() {
    if (settings_.wait) {
        tell(PortActivity::waiting(PortActivity::State::WaitingForStation));
        probe();
    }
    else program(std::nullopt);
}

void PortWorker::stop(int signal) {
    stopping_ = true;
    pause_.stop();
    if (child_ && child_->running()) child_->forward(signal);
    else if (!probe_.busy()) finish();
    // A probe under way ends within its reply window, and finishes then.
}

void PortWorker::portsChanged() {
    if (!pause_.isActive() || stopping_) return;
    pause_.stop();
    probe();
}

// A port given by name is looked up again; false while no port has that
// name (or another worker holds the device it names now).
bool PortWorker::lookUpAgain() {
    if (!port_.byName || !settings_.resolve) return onDevice_ = true;
    const QString path = settings_.resolve(port_.name);
    if (path.isEmpty() || (taken_ && taken_(this, path))) return onDevice_ = false;
    port_.devicePath = path;
    return onDevice_ = true;
}

void PortWorker::probe() {
    if (stopping_) return finish();
    // A port not there answers nothing, like a silent line.
    if (!lookUpAgain()) return heard(std::nullopt, false, kPortAbsentMs);
    probe_.start(port_.devicePath);
}

void PortWorker::onProbed(const ProbeAnswer& answer) {
    if (stopping_) return finish();
    // A port that does not open (another program has it) is not asked again
    // and again either.
    heard(answer.address, true, !answer.opened ? kPortAbsentMs : answer.address ? kAfterAnswerMs : kAfterSilenceMs);
}

void PortWorker::heard(std::optional<int> address, bool portThere, int pauseMs) {
    if (address && address != attached_ && address != lastDone_) return program(address);
    if (address) {
        silent_.invalidate();
    } else if (attached_) {
        // Silence is not yet absence: a restarting station is silent too.
        if (!silent_.isValid()) silent_.start();
        else if (silent_.elapsed() >= kGoneAfterSilentMs) attached_.reset();
    }
    using State = PortActivity::State;
    tell(attached_   ? PortActivity::waiting(State::WaitingForLeave, attached_)
         : portThere ? PortActivity::waiting(State::WaitingForStation)
                     : PortActivity::waiting(State::WaitingForPort));
    next(pauseMs);
}

void PortWorker::program(std::optional<int> probed) {
    onDevice_ = true;
    QStringList args{QStringLiteral("program"), QStringLiteral("--port"), port_.devicePath, QStringLiteral("--report-phases")};
    args << settings_.childOptions;
    const QString trace = traceFile();
    child_ = std::make_unique<ChildRun>(settings_.program, args, trace, settings_.programForks);
    child_->setProperty("trace", trace);
    tell(PortActivity::running(JobPhase::Opening, probed));
    // The address shows once read; the phase as it changes.
    connect(child_.get(), &ChildRun::phase, this, [this, probed](JobPhase phase) {
        tell(PortActivity::running(phase, child_->address() ? child_->address() : probed));
    });
    connect(child_.get(), &ChildRun::addressRead, this,
            [this](int address) { tell(PortActivity::running(now_.phase, address)); });
    connect(child_.get(), &ChildRun::text, this, &PortWorker::message);
    connect(child_.get(), &ChildRun::problem, this, &PortWorker::problem);
    connect(child_.get(), &ChildRun::finished, this, [this, probed] { onProgrammed(probed); }, Qt::QueuedConnection);
    child_->start();
}

void PortWorker::onProgrammed(std::optional<int> probed) {
    PortRunRecord run;
    run.port = port_.name;
    run.device = port_.devicePath;
    run.address = child_->address() ? child_->address() : probed;
    run.outcome = child_->outcome().value_or(RunOutcome::Failed);
    run.noStation = settings_.silentIsNoStation && !run.address && run.outcome == RunOutcome::NoAnswer;
    run.backup = child_->backup();
    run.trace = child_->property("trace").toString();
    run.exitStatus = child_->exitStatus();
    run.message = child_->lastText();
    run.ledger = child_->ledgerEntry();
    if (child_->killed()) logKilledRun(run, child_->seconds());
    child_.reset();
    runs_.push_back(run);
    tell(PortActivity::ended(run.outcome, run.address, run.noStation));
    emit runEnded(run);
    if (!settings_.wait) return finish();
    // The station stays attached after its run: it is not programmed again
    // until it has left or another one answers; unless the run left it
    // partly written, when the next run completes the move.
    attached_ = run.address;
    const bool partly = run.outcome == RunOutcome::PartlyWritten && run.address;
    if (!partly || run.address != rerun_) reruns_ = 0;
    rerun_ = run.address;
    if (partly && reruns_ < kPartlyWrittenReruns) {
        ++reruns_;
        attached_.reset();
    }
    if (run.address != lastDone_) lastDone_ = outcomeIsDone(run.outcome) ? run.address : std::nullopt;
    silent_.invalidate();
    next(kAfterAnswerMs);
}

// A child that died by a signal left no ledger line; the run still happened.
// Its code is the job's for how it ended, as in every other line: stopped
// when the runner passed an interrupt on, an unknown failure otherwise.
void PortWorker::logKilledRun(PortRunRecord& run, double seconds) {
    LedgerEntry entry;
    entry.time = QDateTime::currentDateTime();
    entry.port = port_.devicePath;
    entry.host = ledger::thisHost();
    entry.address = run.address;
    entry.outcome = outcomeName(run.outcome);
    entry.code = run.outcome == RunOutcome::Interrupted ? job_messages::kCodeStopped
                                                        : job_messages::kCodeForeignOrUnknown;
    entry.backup = run.backup;
    entry.seconds = seconds;
    if (const Result<QString> appended = ledger::append(entry); !appended)
        emit problem({FleetProblem::Kind::LedgerNotWritten, ledger::path(), appended.why()});
    run.ledger = entry;
}

void PortWorker::next(int pauseMs) {
    if (stopping_) return finish();
    pause_.start(pauseMs);
}

void PortWorker::tell(const PortActivity& now) {
    if (told_ && now == now_) return;
    now_ = now;
    told_ = true;
    emit activity(now_);
}

void PortWorker::finish() {
    if (finished_) return;
    finished_ = true;
    emit done();
}

QString PortWorker::traceFile() const {
    const QString stem = settings_.traceDir + QLatin1Char('/') +
                         QDateTime::currentDateTime().toString(QStringLiteral("yyMMdd-hhmmss")) + QLatin1Char('_') +
                         fileNamePart(port_.name);
    QString path = stem + QStringLiteral(".txt");
    for (int n = 2; QFile::exists(path); ++n) path = stem + QStringLiteral("-%1.txt").arg(n);
    return path;
}
