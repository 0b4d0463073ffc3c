#include "tests/support/AllocationCounter.h"
#include "core/Debug.h"

#include <gtest/gtest.h>

TEST(Debug, StatisticsFromFedStampsPassesThatMeasureNothingAndTheReport) {
    int id = Debug::addCounter("audio");
    ASSERT_GE(id, 0);
    EXPECT_EQ(Debug::addCounter("audio"), id) << "a name names one counter";

    // Passes start at 1000, 2000, 4000, 5000 ns, each busy 100, 500, 250 ns; the fourth pass has no cycle
    // yet. Cycles: 1000, 2000, 1000 ns; loads: 10 %, 25 %, 25 %.
    // Feeding runs on the audio loop: it must allocate nothing.
    allocationcounter::CountingScope feeding(allocationcounter::Threads::Current,
                                             allocationcounter::Source::OperatorNew);
    Debug::start(id, 1000);
    Debug::stop(id, 1100);
    Debug::start(id, 2000);
    Debug::stop(id, 2500);
    Debug::start(id, 4000);
    Debug::stop(id, 4250);
    Debug::start(id, 5000);
    EXPECT_EQ(feeding.Allocations(), 0) << "feeding a counter allocated";

    Debug::Stats stats = Debug::take(id);
    EXPECT_EQ(stats.cycles, 3u);
    EXPECT_DOUBLE_EQ(stats.minCycleUs, 1.0);
    EXPECT_NEAR(stats.avgCycleUs, 4.0 / 3.0, 1e-9);
    EXPECT_DOUBLE_EQ(stats.maxCycleUs, 2.0);
    EXPECT_DOUBLE_EQ(stats.minLoad, 10.0);
    EXPECT_NEAR(stats.avgLoad, 20.0, 1e-9);
    EXPECT_DOUBLE_EQ(stats.maxLoad, 25.0);

    EXPECT_EQ(Debug::take(id).cycles, 0u) << "taking the statistics starts a new window";

    // Passes that measure nothing.
    id = Debug::addCounter("control");
    ASSERT_GE(id, 0);
    Debug::start(id, 1000); // never stopped
    Debug::start(id, 2000);
    Debug::stop(id, 2100);
    Debug::start(id, 1500); // stamps running backwards
    Debug::start(id, 3000);
    EXPECT_EQ(Debug::take(id).cycles, 0u);
    Debug::start(-1, 1);
    Debug::stop(Debug::MAX_COUNTERS, 1);
    EXPECT_EQ(Debug::take(-1).cycles, 0u);
    EXPECT_EQ(Debug::addCounter(""), -1);

    // The report logs measured counters once.
    int measured = Debug::addCounter("compile");
    int idle = Debug::addCounter("idle");
    Debug::start(measured, 10000);
    Debug::stop(measured, 15000);
    Debug::start(measured, 20000);
    Debug::start(idle, 10000);

    testing::internal::CaptureStdout();
    Debug::report();
    Debug::report();
    std::string log = testing::internal::GetCapturedStdout();
    EXPECT_EQ(log, "I (Debug): compile: cycle 10.0/10.0/10.0 us, load 50.0/50.0/50.0 % (min/avg/max of 1)\n");
}
