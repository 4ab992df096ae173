#include "WorkThread.h"

#include <QFileInfo>

#include "JobMessages.h"
#include "StationBackup.h"
#include "Trace.h"

namespace {
constexpr unsigned long kReopenPauseMs = 2000;
}

WorkThread::WorkThread(QObject* parent) : QThread(parent) {}

WorkThread::~WorkThread() = default;

void WorkThread::enterPhase(JobPhase phase) {
    if (phase != JobPhase::Done) stopIfAsked();
    if (phaseObserver_) phaseObserver_(phase);
}

void WorkThread::stopIfAsked() const {
    if (writeGate_.load() == kGateStopped) throw job_messages::kCodeStopped;
}

bool WorkThread::requestStopBeforeWrites() {
    int expected = kGateOpen;
    if (writeGate_.compare_exchange_strong(expected, kGateStopped)) return true;
    return expected == kGateStopped;
}

// From here on the run is not stopped any more: a station left between its
// first write and its restart is worse than one moved to the end.
void WorkThread::beginWrites() {
    int expected = kGateOpen;
    if (!writeGate_.compare_exchange_strong(expected, kGateWriting) && expected == kGateStopped)
        throw job_messages::kCodeStopped;
    emit writePhaseChanged(true);
}

namespace {

// The text of an outcome that ends with a thrown code, as the window shows it.
QString failureText(const WorkThread& thread, int code) {
    if (thread.partlyWritten()) return job_messages::partlyWritten();
    // The folder the backups go to, as the operator has to make it writable.
    if (code == job_messages::kCodeBackupNotSaved)
        return job_messages::backupNotSaved(QFileInfo(backupFilePath(QDateTime::currentDateTime(), 0, 0)).absolutePath());
    return outcomeMessage(job_messages::codeRow(code).worded);
}

}  // namespace

void WorkThread::endRun(RunOutcome outcome, int code, const QString& text) {
    const bool moved = outcome == RunOutcome::Moved;
    result_.outcome = outcome;
    result_.code = moved ? 0 : code;
    result_.text = moved ? QString() : text.isEmpty() ? outcomeMessage(outcome) : text;
    if (moved) emit onReadStationParam();
    else emit onErr(result_.text, result_.code);
}

void WorkThread::run() {
    resetRunResults();
    result_ = RunResult{};
    try {
        enterPhase(JobPhase::Opening);
        if (!connection_.open(std::wstring(portPath))) {
            QThread::msleep(kReopenPauseMs);
            stopIfAsked();
            if (!connection_.open(std::wstring(portPath))) throw job_messages::kCodePortNotOpened;
        }
        programStation();
        connection_.close();
    } catch (int thrown) {
        // A port that failed is said as such, whatever the layer that met it
        // made of it: a silent station would be "no answer".
        const int code = thrown == link_codes::kPortLost ? job_messages::kCodePortLost : thrown;
        if (code != job_messages::kCodePortNotOpened) connection_.close();
        // The port that did not open was not written either.
        const bool partly = code != job_messages::kCodePortNotOpened && partlyWritten();
        result_.partlyWritten = partly;
        endRun(failureOutcome(code, partly, verifyResult()), code, failureText(*this, code));
    } catch (...) {
        // Whatever broke, the next run must talk through the port the
        // operator chooses then, not through this one.
        connection_.close();
        endRun(failureOutcome(job_messages::kCodeForeignOrUnknown, false, verifyResult()),
               job_messages::kCodeForeignOrUnknown, job_messages::unknownError());
    }
    if (writeGate_.exchange(kGateOpen) == kGateWriting) emit writePhaseChanged(false);
    try {
        enterPhase(JobPhase::Done);
    } catch (...) {
        // The run is over; an observer's failure changes nothing now.
    }
}
