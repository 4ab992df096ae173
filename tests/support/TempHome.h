#pragma once
// A home of a test's own: a temporary directory for HOME with the log
// directory in it, a runtime directory beside it, and the one reset of the
// process-wide station state that every test starting afresh needs.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "AppContext.h"
#include "LogDirectory.h"
#include "StationRecord.h"

class TempHome {
public:
    TempHome() : valid_(home_.isValid() && runtime_.isValid() && QDir(home_.path()).mkdir(QStringLiteral("QuelvintLog"))) {}
    bool isValid() const { return valid_; }
    QString path() const { return home_.path(); }
    QString runtimePath() const { return runtime_.path(); }
    QString logDir() const { return home_.path() + QStringLiteral("/QuelvintLog"); }
    // The system's environment with HOME and XDG_RUNTIME_DIR pointing here,
    // for a child process.
    QProcessEnvironment environment() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), home_.path());
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime_.path());
        return env;
    }

private:
    QTemporaryDir home_;
    QTemporaryDir runtime_;
    bool valid_;
};

// Sets an environment variable for the life of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const QByteArray& value)
        : name_(name), saved_(qgetenv(name)), had_(qEnvironmentVariableIsSet(name)) {
        qputenv(name_, value);
    }
    ~ScopedEnv() {
        if (had_) qputenv(name_, saved_);
        else qunsetenv(name_);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    QByteArray saved_;
    bool had_;
};

// Empties the station record (route table, status, parameter block) and
// forgets the station file name.
inline void resetStationState() {
    StationRecord& record = *StationRecord::instance();
    record.routeTable.clear();
    record.setStatus(StationStatus{});
    record.params().fill(0);
    AppContext::instance()->setStationFileName(QString());
}

// The whole file, or an empty array when it cannot be read.
inline QByteArray fileBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline QByteArray asBytes(const std::vector<std::uint8_t>& b) {
    return QByteArray(reinterpret_cast<const char*>(b.data()), static_cast<int>(b.size()));
}

// Every test in a fresh home that is this process's HOME and working
// directory, with its log directory, and a cleared station record.
class TempHomeTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(home_.isValid());
        qputenv("HOME", QFile::encodeName(home_.path()));
        ASSERT_TRUE(QDir::setCurrent(home_.path()));
        ensureLogDirectory();
        ASSERT_TRUE(QDir(logDir()).exists());
        resetStationState();
    }

    static StationRecord& record() { return *StationRecord::instance(); }
    static QString logDir() { return logDirectoryPath(); }
    QString homePath() const { return home_.path(); }

    // The whole file, "<missing>" when it cannot be read.
    static QByteArray readAll(const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
    static void writeAll(const QString& path, const QByteArray& bytes) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(f.write(bytes), bytes.size());
    }
    // Puts `bytes` into the log directory as the file the writers use.
    static QString useStationFile(const QString& name, const QByteArray& bytes) {
        const QString path = logDir() + QLatin1Char('/') + name;
        writeAll(path, bytes);
        AppContext::instance()->setStationFileName(name);
        return path;
    }

private:
    TempHome home_;
};

// For a test program's main: HOME, XDG_RUNTIME_DIR and the working
// directory in a temporary tree of the run's own, so that nothing of the
// user's or the source tree's is touched. Kept for the life of the object.
class TestSandbox {
public:
    TestSandbox() {
        if (!root_.isValid()) return;
        const QDir root(root_.path());
        for (const char* sub : {"home", "runtime", "work"})
            if (!root.mkdir(QLatin1String(sub), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner)) return;
        qputenv("HOME", QFile::encodeName(root.filePath(QStringLiteral("home"))));
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(root.filePath(QStringLiteral("runtime"))));
        valid_ = QDir::setCurrent(root.filePath(QStringLiteral("work")));
    }
    bool isValid() const { return valid_; }

private:
    QTemporaryDir root_;
    bool valid_ = false;
};

#ifdef RC_STATION_TEST_DATA
// A file of the station tests' data; "<missing>" when it cannot be read.
inline QByteArray testData(const char* name) {
    const QByteArray bytes = fileBytes(QStringLiteral(RC_STATION_TEST_DATA "/") + QLatin1String(name));
    return bytes.isEmpty() ? QByteArray("<missing>") : bytes;
}
#endif
