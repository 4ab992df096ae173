#include "TempHome.h"

#include <QDir>
#include <QFile>

#include "AppContext.h"
#include "LogDirectory.h"

namespace {
const QString kLogDirName = QStringLiteral("QuelvintLog");
}

TempHome::TempHome() {
    valid_ = home_.isValid() && runtime_.isValid() && QDir(home_.path()).mkdir(kLogDirName);
}

QString TempHome::logDir() const { return home_.path() + QLatin1Char('/') + kLogDirName; }

QProcessEnvironment TempHome::environment() const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home_.path());
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime_.path());
    return env;
}

ScopedEnv::ScopedEnv(const char* name, const QByteArray& value)
    : name_(name), saved_(qgetenv(name)), had_(qEnvironmentVariableIsSet(name)) {
    qputenv(name_, value);
}

ScopedEnv::~ScopedEnv() {
    if (had_) qputenv(name_, saved_);
    else qunsetenv(name_);
}

void resetStationState() {
    StationRecord& record = *StationRecord::instance();
    record.routeTable.clear();
    record.setStatus(StationStatus{});
    record.params().fill(0);
    AppContext::instance()->setStationFileName(QString());
}

QByteArray fileBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void TempHomeTest::SetUp() {
    ASSERT_TRUE(home_.isValid());
    qputenv("HOME", QFile::encodeName(home_.path()));
    ASSERT_TRUE(QDir::setCurrent(home_.path()));
    ensureLogDirectory();
    ASSERT_TRUE(QDir(logDir()).exists());
    resetStationState();
}

QString TempHomeTest::logDir() { return logDirectoryPath(); }

QByteArray TempHomeTest::readAll(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return QByteArray("<missing>");
    return f.readAll();
}

void TempHomeTest::writeAll(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

QString TempHomeTest::useStationFile(const QString& name, const QByteArray& bytes) {
    const QString path = logDir() + QLatin1Char('/') + name;
    writeAll(path, bytes);
    AppContext::instance()->setStationFileName(name);
    return path;
}

TestSandbox::TestSandbox() {
    if (!root_.isValid()) return;
    const QDir root(root_.path());
    for (const char* sub : {"home", "runtime", "work"})
        if (!root.mkdir(QLatin1String(sub), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner)) return;
    qputenv("HOME", QFile::encodeName(root.filePath(QStringLiteral("home"))));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(root.filePath(QStringLiteral("runtime"))));
    valid_ = QDir::setCurrent(root.filePath(QStringLiteral("work")));
}
