// Start-up: the log directory "QuelvintLog" directly in the home directory,
// created when missing, never its parent; the program itself, run with a
// home of the test's own.

#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include "LogDirectory.h"
#include "TempHome.h"
#include "TestSupport.h"

namespace {

QStringList entriesOf(const QString& dir) {
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

}  // namespace

TEST(StartUp, LogDirectoryIsCreatedOnlyDirectlyInAnExistingHome) {
    QTemporaryDir root;
    {
        const QString home = root.path() + "/fresh";
        QDir().mkpath(home);
        ScopedEnv override("HOME", home.toLocal8Bit());
        EXPECT_EQ(logDirectoryPath(), home + "/QuelvintLog");
        ensureLogDirectory();
        EXPECT_EQ(entriesOf(home), QStringList{"QuelvintLog"});
        EXPECT_TRUE(QFileInfo(home + "/QuelvintLog").isDir());
    }
    {
        const QString home = root.path() + "/existing";
        QDir().mkpath(home + "/QuelvintLog");
        writeFile((home + "/QuelvintLog/station.xml").toStdString(), "kept");
        ScopedEnv override("HOME", home.toLocal8Bit());
        ensureLogDirectory();
        EXPECT_EQ(entriesOf(home), QStringList{"QuelvintLog"});
        EXPECT_EQ(entriesOf(home + "/QuelvintLog"), QStringList{"station.xml"});
    }
    {
        const QString home = root.path() + "/absent/home";
        ScopedEnv override("HOME", home.toLocal8Bit());
        ensureLogDirectory();
        EXPECT_FALSE(QFileInfo::exists(root.path() + "/absent")) << "the parent is never created";
    }
}

TEST(StartUp, TheProgramCreatesExactlyTheLogDirectoryWhateverItsArguments) {
    QTemporaryDir root;
    const QString home = root.path() + "/home";
    QDir().mkpath(home);
    QDir().mkpath(root.path() + "/elsewhere");

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home);
    env.insert("QT_QPA_PLATFORM", "offscreen");
    // Keep the GUI library's own caches and settings out of the home.
    env.insert("XDG_CACHE_HOME", root.path() + "/elsewhere/cache");
    env.insert("XDG_CONFIG_HOME", root.path() + "/elsewhere/config");
    env.insert("XDG_DATA_HOME", root.path() + "/elsewhere/data");
    env.insert("XDG_RUNTIME_DIR", root.path() + "/elsewhere");

    QProcess program;
    program.setProcessEnvironment(env);
    program.setWorkingDirectory(root.path() + "/elsewhere");
    program.start(QStringLiteral(RECHANNEL_EXECUTABLE), {"--help", "-platform-ignored", "program", "/dev/ttyUSB0"});
    ASSERT_TRUE(program.waitForStarted(30000));
    const bool created = waitUntil([&] { return QFileInfo(home + "/QuelvintLog").isDir(); }, 60000);
    EXPECT_EQ(program.state(), QProcess::Running) << "the arguments neither stop nor change the program";
    program.terminate();
    if (!program.waitForFinished(30000)) {
        program.kill();
        EXPECT_TRUE(program.waitForFinished(30000)) << "the window did not end";
    }
    ASSERT_TRUE(created);
    EXPECT_EQ(entriesOf(home), QStringList{"QuelvintLog"});
    EXPECT_TRUE(entriesOf(home + "/QuelvintLog").isEmpty());
}
