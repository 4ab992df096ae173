#include <QCoreApplication>
#include <gtest/gtest.h>

#include "AppContext.h"
#include "StationRecord.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    StationRecord::create();
    AppContext::create();
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    StationRecord::destroy();
    return result;
}
