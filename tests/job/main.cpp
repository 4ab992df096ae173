// The job's signals cross threads as queued calls, so the tests need an
// application object with an event loop for QSignalSpy::wait. Moving a
// station saves a backup in the log directory: keep that in a home of our own.
#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    QTemporaryDir home;
    if (!home.isValid() || !QDir(home.path()).mkdir(QStringLiteral("QuelvintLog"))) return 1;
    qputenv("HOME", home.path().toLocal8Bit());
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
