#pragma once
// rechannel-cli as a child process with a home of its own, against simulated
// stations on pseudo-terminals.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <vector>

#include "PtyStationHost.h"

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
    void SetUp() override {
        ASSERT_TRUE(home_.isValid());
        ASSERT_TRUE(runtime_.isValid());
        ASSERT_TRUE(QDir(home_.path()).mkdir(QStringLiteral("QuelvintLog")));
    }

    QProcessEnvironment environment() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), homeOverride_.isEmpty() ? home_.path() : homeOverride_);
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime_.path());
        return env;
    }

    std::unique_ptr<QProcess> start(const QStringList& args) {
        auto process = std::make_unique<QProcess>();
        process->setProcessEnvironment(environment());
        process->setWorkingDirectory(home_.path());
        process->start(QStringLiteral(RECHANNEL_CLI_PATH), args);
        EXPECT_TRUE(process->waitForStarted(10000));
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

    static QString path(const sim::PtyStationHost& host) { return QString::fromStdString(host.slavePath()); }
    QString logDir() const { return home_.path() + QStringLiteral("/QuelvintLog"); }
    QString backupsDir() const { return logDir() + QStringLiteral("/backups"); }
    QStringList backups() const { return QDir(backupsDir()).entryList({QStringLiteral("*.bin")}, QDir::Files); }

    QTemporaryDir home_;
    QTemporaryDir runtime_;
    QString homeOverride_;
};

inline std::vector<std::uint8_t> paramBlock(const sim::StationModel& model) {
    return std::vector<std::uint8_t>(model.rom.begin() + 0xC000, model.rom.begin() + 0xC100);
}

inline int writesSeen(const sim::PtyStationHost& host) {
    int writes = 0;
    for (const sim::WireFrame& f : host.frames())
        if (f.direction == sim::WireFrame::Direction::ToStation && f.bytes.size() > 2 && f.bytes[2] == 0x06) ++writes;
    return writes;
}

inline QByteArray fileBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline QByteArray asBytes(const std::vector<std::uint8_t>& b) {
    return QByteArray(reinterpret_cast<const char*>(b.data()), static_cast<int>(b.size()));
}
