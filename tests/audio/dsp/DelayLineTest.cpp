#include "audio/dsp/DelayLine.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>

TEST(DelayLine, IntegerDelaysAndTheLengthAreExactAndClamped) {
    struct Case {
        float delay;
        int expected;
    };
    DelayLine line(1000);
    ASSERT_GE(line.maxDelay(), 1000);
    const int longest = line.maxDelay();
    const Case cases[] = {{1.0f, 1},
                          {5.0f, 5},
                          {100.0f, 100},
                          {1000.0f, 1000},
                          {0.0f, 1},
                          {-3.0f, 1},
                          {static_cast<float>(longest), longest},
                          {1e9f, longest},
                          {std::nanf(""), 1}};
    for (const Case& c : cases) {
        line.reset();
        int arrival = -1;
        for (int n = 0; n < longest + 10; ++n) {
            const float out = line.read(c.delay); // read before write: the delay is exactly `delay`
            if (out == 1.0f) arrival = n;
            EXPECT_EQ(line.readInteger(static_cast<int>(c.expected)), out);
            line.write(n == 0 ? 1.0f : 0.0f);
        }
        EXPECT_EQ(arrival, c.expected) << "delay " << c.delay;
    }
    // The length is bounded too.
    EXPECT_EQ(DelayLine(0).maxDelay(), 1);
    EXPECT_EQ(DelayLine(-5).maxDelay(), 1);
    EXPECT_EQ(DelayLine(4095).maxDelay(), 4095);
    EXPECT_EQ(DelayLine(4096).maxDelay(), 8191);
    line.configure(std::numeric_limits<int>::max());
    EXPECT_EQ(line.maxDelay(), DelayLine::kLongestDelay);
}

TEST(DelayLine, FractionalReadsFollowADelayedSine) {
    // Linear interpolation of a sine of angular step w errs by at most w^2 / 8 of its amplitude.
    const double w = 2.0 * std::numbers::pi * 500.0 / 48000.0;
    for (float delay : {10.25f, 100.5f, 333.75f, 2.9f}) {
        DelayLine line(512);
        double worst = 0.0;
        for (int n = 0; n < 4000; ++n) {
            const float out = line.read(delay);
            if (n > 600) worst = std::max(worst, std::fabs(out - std::sin(w * (n - delay))));
            line.write(static_cast<float>(std::sin(w * n)));
        }
        EXPECT_LT(worst, w * w / 8.0 + 1e-6) << delay;
    }
}

TEST(DelayLine, BlockProcessEqualsSampleBySample) {
    DelayLine block(300), single(300);
    for (int frame = 0; frame < 40; ++frame) {
        float samples[16];
        for (int i = 0; i < 16; ++i) samples[i] = static_cast<float>(std::sin(0.05 * (frame * 16 + i)));
        float expected[16];
        for (int i = 0; i < 16; ++i) {
            expected[i] = single.read(123.4f);
            single.write(samples[i]);
        }
        block.process(samples, 16, 123.4f);
        for (int i = 0; i < 16; ++i) ASSERT_EQ(samples[i], expected[i]);
    }
}
