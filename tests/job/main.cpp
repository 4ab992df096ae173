// The job's signals cross threads as queued calls, so the tests need an
// application object with an event loop for QSignalSpy::wait.
#include <QCoreApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
