// The file context in a process of its own, where nothing has created it yet.
#include <gtest/gtest.h>

#include "AppContext.h"

TEST(AppContextStart, InstanceIsNullUntilCreateThenTheSameEmptyContext) {
    EXPECT_EQ(AppContext::instance(), nullptr);
    AppContext::create();
    AppContext* context = AppContext::instance();
    ASSERT_NE(context, nullptr);
    EXPECT_TRUE(context->stationFileName().isEmpty());
    AppContext::create();
    EXPECT_EQ(AppContext::instance(), context);
}
