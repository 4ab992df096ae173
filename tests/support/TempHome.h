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
    TempHome();
    bool isValid() const { return valid_; }
    QString path() const { return home_.path(); }
    QString runtimePath() const { return runtime_.path(); }
    QString logDir() const;
    // The system's environment with HOME and XDG_RUNTIME_DIR pointing here,
    // for a child process.
    QProcessEnvironment environment() const;

private:
    QTemporaryDir home_;
    QTemporaryDir runtime_;
    bool valid_ = false;
};

// Sets an environment variable for the life of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const QByteArray& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    QByteArray saved_;
    bool had_;
};

// Empties the station record (route table, status, parameter block) and
// forgets the station file name.
void resetStationState();

// The whole file, or an empty array when it cannot be read.
QByteArray fileBytes(const QString& path);

inline QByteArray asBytes(const std::vector<std::uint8_t>& b) {
    return QByteArray(reinterpret_cast<const char*>(b.data()), static_cast<int>(b.size()));
}

// Every test in a fresh home that is this process's HOME and working
// directory, with its log directory, and a cleared station record.
class TempHomeTest : public ::testing::Test {
protected:
    void SetUp() override;

    static StationRecord& record() { return *StationRecord::instance(); }
    static QString logDir();
    QString homePath() const { return home_.path(); }

    static QByteArray readAll(const QString& path);   // "<missing>" when it cannot be read
    static void writeAll(const QString& path, const QByteArray& bytes);
    // Puts `bytes` into the log directory as the file the writers use.
    static QString useStationFile(const QString& name, const QByteArray& bytes);

private:
    TempHome home_;
};

// For a test program's main: a home, a runtime and a working directory of
// the run's own, so that nothing of the user's or the source tree's is
// touched. Kept for the life of the object.
class TestSandbox {
public:
    TestSandbox();
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
