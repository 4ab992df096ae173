#pragma once
// A simulated station on a pty, a WorkThread whose connection is open to it
// (used from the test thread, as a poller on the worker thread would), a
// fresh home and log directory, a working directory for debug.log and a
// cleared station record.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QList>
#include <QSignalSpy>
#include <QString>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "AppContext.h"
#include "LogDirectory.h"
#include "PtyStationHost.h"
#include "StationFiles.h"
#include "StationRecord.h"
#include "WorkThread.h"

class DiagTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(home_.isValid());
        qputenv("HOME", QFile::encodeName(home_.path()));
        ASSERT_TRUE(QDir::setCurrent(home_.path()));
        ensureLogDirectory();
        record().routeTable.clear();
        record().setStatus(StationStatus{});
        record().params().fill(0);
        AppContext::instance()->setStationFileName(QString());
        ASSERT_TRUE(host.start());
        ASSERT_TRUE(thread.connection().open(host.slavePathW()));
    }
    void TearDown() override {
        thread.connection().close();
        host.stop();
        // The station drops bytes outside a frame without a word; none may be sent.
        EXPECT_TRUE(host.strayBytes().empty()) << "bytes sent outside request frames";
    }

    static StationRecord& record() { return *StationRecord::instance(); }

    // The record holds what the job read from the station, and the station
    // file named after it exists.
    QString useStation(std::uint16_t address, std::uint8_t system) {
        setParamWord(record().params(), param_offset::address, address);
        record().params()[param_offset::system] = system;
        return ensureStationFile();
    }

    static QByteArray readAll(const QString& path) {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly)) return QByteArray();
        return f.readAll();
    }
    static void writeAll(const QString& path, const QByteArray& bytes) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }
    // The messages of debug.log, without their time stamps.
    static QList<QByteArray> debugMessages() {
        QList<QByteArray> messages;
        for (const QByteArray& line : readAll(QStringLiteral("debug.log")).split('\n')) {
            if (line.isEmpty()) continue;
            const int tab = line.indexOf('\t');
            messages.append(tab < 0 ? line : line.mid(tab + 1));
        }
        return messages;
    }
    static void clearDebugLog() { QFile::remove(QStringLiteral("debug.log")); }

    // Fails the next `count` exchanges with a refusal from the station.
    void refuseNext(int count) {
        sim::FaultScript script;
        sim::Fault refusal;
        refusal.kind = sim::Fault::Kind::Status;
        for (int i = 0; i < count; ++i) script.at(host.exchangeCount() + i, refusal);
        host.setFaults(script);
    }

    sim::PtyStationHost host;
    WorkThread thread;

private:
    QTemporaryDir home_;
};
