#include "ExecChild.h"

#include "StopRequests.h"

ExecChild::ExecChild(const Setup& setup) : setup_(setup) {
    if (setup.outputFile.isEmpty()) process_.setStandardOutputFile(QProcess::nullDevice());
    else process_.setStandardOutputFile(setup.outputFile, QIODevice::Truncate);
    // Its own process group: a Ctrl-C on the terminal reaches the runner
    // only, which passes it on once to every child.
    stop_requests::keepChildApart(process_);
    process_.setEnvironment(setup.environment);
    process_.setProcessChannelMode(QProcess::SeparateChannels);
    process_.setReadChannel(QProcess::StandardError);
    connect(&process_, &QProcess::readyReadStandardError, this,
            [this] { emit errorOutput(process_.readAllStandardError()); });
    connect(&process_, &QProcess::finished, this, [this](int code, QProcess::ExitStatus status) {
        const QByteArray rest = process_.readAllStandardError();
        if (!rest.isEmpty()) emit errorOutput(rest);
        emit ended(code, status != QProcess::NormalExit);
    });
    connect(&process_, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) emit failedToStart(process_.errorString());
    });
}

ExecChild::~ExecChild() {
    if (process_.state() == QProcess::NotRunning) return;
    process_.kill();
    process_.waitForFinished();
}

void ExecChild::start() { process_.start(setup_.program, setup_.args); }

bool ExecChild::writeInput(const QByteArray& bytes) { return running() && process_.write(bytes) > 0; }

void ExecChild::signal(int signalNumber) {
    if (running() && pid() > 0) stop_requests::forwardToChild(pid(), signalNumber);
}
