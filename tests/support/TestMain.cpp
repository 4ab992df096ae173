// The main of the test programs that need an application object: the job's
// signals cross threads as queued calls, so QSignalSpy::wait needs its event
// loop. The run gets a home of its own with the log directory the program
// makes at start-up (moving a station saves a backup there), and the
// station record and context the program creates before anything else.
#include <QCoreApplication>
#include <gtest/gtest.h>

#include "AppContext.h"
#include "LogDirectory.h"
#include "StationRecord.h"
#include "TempHome.h"

int main(int argc, char** argv) {
    TestSandbox sandbox;
    if (!sandbox.isValid()) return 2;
    QCoreApplication app(argc, argv);
    ensureLogDirectory();
    StationRecord::create();
    AppContext::create();
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    StationRecord::destroy();
    return result;
}
