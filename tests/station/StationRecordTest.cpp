// The station record's life: it exists between create and destroy, and a
// second create never replaces what is in it.
#include <gtest/gtest.h>

#include "AppContext.h"
#include "StationRecord.h"

TEST(StationRecordLifecycle, CreateIsOnceAndDestroyEndsIt) {
    StationRecord::destroy();
    EXPECT_EQ(StationRecord::instance(), nullptr);
    StationRecord::destroy();   // harmless without an instance
    EXPECT_EQ(StationRecord::instance(), nullptr);

    StationRecord::create();
    StationRecord* first = StationRecord::instance();
    ASSERT_NE(first, nullptr);
    first->params()[2] = 0x23;
    first->routeTable[7].count = 3;
    StationRecord::create();
    EXPECT_EQ(StationRecord::instance(), first);
    EXPECT_EQ(StationRecord::instance()->params()[2], 0x23);
    EXPECT_EQ(StationRecord::instance()->routeTable[7].count, 3);

    // A new record after destroy starts empty; the other tests expect one.
    StationRecord::destroy();
    StationRecord::create();
    ASSERT_NE(StationRecord::instance(), nullptr);
    EXPECT_EQ(StationRecord::instance()->params()[2], 0);
    EXPECT_TRUE(StationRecord::instance()->routeTable.empty());
}

TEST(AppContextLifecycle, ASecondCreateKeepsTheFirstContext) {
    AppContext* first = AppContext::instance();
    ASSERT_NE(first, nullptr);
    const QString before = first->stationFileName();
    first->setStationFileName(QStringLiteral("kept.xml"));
    AppContext::create();
    EXPECT_EQ(AppContext::instance(), first);
    EXPECT_EQ(AppContext::instance()->stationFileName(), QStringLiteral("kept.xml"));
    first->setStationFileName(before);
}
