// The main of the window tests: one QApplication for the whole run, on the
// offscreen platform, in a home, runtime and working directory of the run's
// own.
#include <QApplication>
#include <gtest/gtest.h>

#include "TempHome.h"

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    TestSandbox sandbox;
    if (!sandbox.isValid()) return 2;
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
