// The window tests need one QApplication for the whole run, on the offscreen
// platform, and a home, a runtime directory and a working directory of their
// own so that nothing of the user's or the source tree's is touched.

#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>
#include <cstdlib>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");

    QTemporaryDir sandbox;
    if (!sandbox.isValid()) return 2;
    const std::string root = sandbox.path().toStdString();
    for (const char* sub : {"/home", "/runtime", "/work"}) ::mkdir((root + sub).c_str(), 0700);
    ::setenv("HOME", (root + "/home").c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", (root + "/runtime").c_str(), 1);
    if (::chdir((root + "/work").c_str()) != 0) return 2;

    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    return result;
}
