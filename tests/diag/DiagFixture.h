#pragma once
// A diagnostic against a simulated station on a pty: a fresh home (its
// working directory takes debug.log), a cleared station record, and a
// WorkThread whose connection is open to the station, used from the test
// thread as a poller on the worker thread would.

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QSignalSpy>
#include <QString>

#include "SimStation.h"
#include "StationFiles.h"
#include "TempHome.h"
#include "WorkThread.h"

class DiagTest : public TempHomeTest {
protected:
    void SetUp() override {
        TempHomeTest::SetUp();
        if (HasFatalFailure()) return;
        ASSERT_TRUE(host.start());
        ASSERT_TRUE(thread.connection().open(host.slavePathW()));
    }
    void TearDown() override {
        thread.connection().close();
        stopExpectingNoStrayBytes(host);
    }

    // The record holds what the job read from the station, and the station
    // file named after it exists.
    QString useStation(std::uint16_t address, std::uint8_t system) {
        setParamWord(record().params(), param_offset::address, address);
        record().params()[param_offset::system] = system;
        return ensureStationFile();
    }

    // The whole file; empty when it cannot be read.
    static QByteArray readAll(const QString& path) { return fileBytes(path); }

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

    void refuseNext(int count) { refuseExchanges(host, count); }

    sim::PtyStationHost host;
    WorkThread thread;
};
