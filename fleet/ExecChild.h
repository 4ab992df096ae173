#pragma once
// A run's child started the usual way: QProcess starts the program anew.
#include <QProcess>

#include "ChildProcess.h"

class ExecChild : public ChildProcess {
public:
    explicit ExecChild(const Setup& setup);
    ~ExecChild() override;

    void start() override;
    qint64 pid() const override { return process_.processId(); }
    bool running() const override { return process_.state() != QProcess::NotRunning; }
    bool writeInput(const QByteArray& bytes) override;
    void signal(int signalNumber) override;
    void kill() override { process_.kill(); }

private:
    Setup setup_;
    QProcess process_;
};
