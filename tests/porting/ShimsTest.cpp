#include "porting/Shims.h"

#include <gtest/gtest.h>

TEST(Shims, ClockIsTimeOfDayAndTestsCanReplaceIt) {
    int64_t now = esp_timer_get_time();
    EXPECT_GT(now, int64_t(1700000000) * 1000000);
    porting::setClock([] { return int64_t(42); });
    EXPECT_EQ(esp_timer_get_time(), 42);
    porting::setClock({});
    EXPECT_GE(esp_timer_get_time(), now);
}
