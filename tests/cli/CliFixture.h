#pragma once
// rechannel-cli as a child process with a home of its own, against simulated
// stations on pseudo-terminals.
#include <QDir>
#include <QProcess>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <vector>

#include "Ledger.h"
#include "SimStation.h"
#include "TempHome.h"

struct CliResult {
    int exitCode = -1;
    QString out;
    QStringList errLines;
    QString lastErrLine() const { return errLines.isEmpty() ? QString() : errLines.last(); }
    bool errContains(const QString& text) const {
        for (const QString& line : errLines)
            if (line.contains(text)) return true;
        return false;
    }
    std::string err() const { return errLines.join('\n').toStdString(); }
};

class CliFixture : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(home_.isValid()); }

    QProcessEnvironment environment() const {
        QProcessEnvironment env = home_.environment();
        if (!homeOverride_.isEmpty()) env.insert(QStringLiteral("HOME"), homeOverride_);
        return env;
    }

    std::unique_ptr<QProcess> start(const QStringList& args) {
        auto process = std::make_unique<QProcess>();
        process->setProcessEnvironment(environment());
        process->setWorkingDirectory(home_.path());
        process->start(QStringLiteral(RECHANNEL_CLI_PATH), args);
        EXPECT_TRUE(process->waitForStarted(60000));
        return process;
    }

    static CliResult finish(QProcess& process, int timeoutMs = 60000) {
        CliResult result;
        if (!process.waitForFinished(timeoutMs)) {
            process.kill();
            process.waitForFinished();
            ADD_FAILURE() << "rechannel-cli " << process.arguments().join(' ').toStdString() << " did not finish";
            return result;
        }
        result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        result.out = QString::fromUtf8(process.readAllStandardOutput());
        result.errLines = QString::fromUtf8(process.readAllStandardError()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        return result;
    }

    CliResult run(const QStringList& args, int timeoutMs = 60000) { return finish(*start(args), timeoutMs); }
    // `program` on the station's port, as a technician runs it.
    CliResult program(const sim::PtyStationHost& station) {
        return run({QStringLiteral("program"), QStringLiteral("--port"), path(station)});
    }
    // The ledger's last line; an empty entry when it has none.
    LedgerEntry lastLedgerLine() const {
        const std::vector<LedgerEntry> lines = ledger::read(logDir() + QStringLiteral("/ledger.csv"));
        return lines.empty() ? LedgerEntry{} : lines.back();
    }

    static QString path(const sim::PtyStationHost& host) { return QString::fromStdString(host.slavePath()); }
    QString logDir() const { return home_.logDir(); }
    QString backupsDir() const { return logDir() + QStringLiteral("/backups"); }
    QStringList backups() const { return QDir(backupsDir()).entryList({QStringLiteral("*.bin")}, QDir::Files); }

    TempHome home_;
    QString homeOverride_;
};
