#pragma once
// A fresh home directory with its log directory for every test, a working
// directory inside it, and a cleared station record.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "AppContext.h"
#include "LogDirectory.h"
#include "StationRecord.h"

class TempHomeTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(home_.isValid());
        qputenv("HOME", QFile::encodeName(home_.path()));
        ASSERT_TRUE(QDir::setCurrent(home_.path()));
        ensureLogDirectory();
        ASSERT_TRUE(QDir(logDir()).exists());
        record().routeTable.clear();
        record().setStatus(StationStatus{});
        record().params().fill(0);
        AppContext::instance()->setStationFileName(QString());
    }

    static StationRecord& record() { return *StationRecord::instance(); }
    static QString logDir() { return logDirectoryPath(); }
    QString homePath() const { return home_.path(); }

    static QByteArray readAll(const QString& path) {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly)) return QByteArray("<missing>");
        return f.readAll();
    }
    static void writeAll(const QString& path, const QByteArray& bytes) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(f.write(bytes), bytes.size());
    }
    static QByteArray testData(const char* name) {
        return readAll(QStringLiteral(RC_STATION_TEST_DATA "/") + QLatin1String(name));
    }
    // Puts `bytes` into the log directory as the file the writers use.
    static QString useStationFile(const QString& name, const QByteArray& bytes) {
        const QString path = logDir() + QLatin1Char('/') + name;
        writeAll(path, bytes);
        AppContext::instance()->setStationFileName(name);
        return path;
    }

private:
    QTemporaryDir home_;
};
