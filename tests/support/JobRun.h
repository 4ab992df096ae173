#pragma once
// Runs the real WorkThread once against a port and collects what it said:
// its outcome signals and its trace lines.

#include <QDeadlineTimer>
#include <QSignalSpy>
#include <chrono>
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "PtyStationHost.h"
#include "StationFrames.h"
#include "TraceCapture.h"
#include "WorkThread.h"

struct JobOutcome {
    int moved = 0;
    std::vector<std::pair<QString, int>> errors;
    std::vector<std::string> trace;

    int signalCount() const { return moved + static_cast<int>(errors.size()); }
    int code() const { return errors.empty() ? 0 : errors.front().second; }
    QString text() const { return errors.empty() ? QString() : errors.front().first; }
};

inline JobOutcome runJob(WorkThread& thread, const std::wstring& path) {
    JobOutcome outcome;
    TraceCapture trace;
    // QSignalSpy records on the emitting thread; wait() orders it before us.
    QSignalSpy moved(&thread, &WorkThread::onReadStationParam);
    QSignalSpy failed(&thread, &WorkThread::onErr);
    thread.setPortPath(path);
    thread.start();
    EXPECT_TRUE(thread.wait(QDeadlineTimer(60000))) << "the job did not end";
    outcome.moved = moved.count();
    for (const QList<QVariant>& args : failed) outcome.errors.emplace_back(args.at(0).toString(), args.at(1).toInt());
    outcome.trace = trace.lines();
    return outcome;
}
