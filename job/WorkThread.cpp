#include "WorkThread.h"

#include "JobMessages.h"

namespace {
constexpr unsigned long kReopenPauseMs = 2000;
}

WorkThread::WorkThread(QObject* parent) : QThread(parent) {}

WorkThread::~WorkThread() = default;

void WorkThread::run() {
    backupPath_.clear();
    verifyResult_ = VerifyResult::NotRun;
    reportPhase(JobPhase::Opening);
    try {
        if (!connection_.open(std::wstring(portPath))) {
            QThread::msleep(kReopenPauseMs);
            if (!connection_.open(std::wstring(portPath))) throw job_messages::kCodePortNotOpened;
        }
        programStation();
        connection_.close();
    } catch (int code) {
        if (code == job_messages::kCodePortNotOpened) {
            emit onErr(job_messages::portNotOpened(), code);
        } else {
            connection_.close();
            emit onErr(job_messages::noAnswer(), code);
        }
    } catch (...) {
        // Whatever broke, the next run must talk through the port the
        // operator chooses then, not through this one.
        connection_.close();
        emit onErr(job_messages::unknownError(), job_messages::kCodeForeignOrUnknown);
    }
    reportPhase(JobPhase::Done);
}
