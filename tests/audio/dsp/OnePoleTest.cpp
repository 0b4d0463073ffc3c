#include "audio/dsp/OnePole.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

// A one-pole section with time constant tau answers a unit step with 1 - exp(-t / tau).
TEST(OnePole, StepResponseFollowsItsTimeConstant) {
    struct Case {
        float seconds;
        bool byCutoff;
    };
    for (const Case& c : {Case{0.001f, false}, Case{0.02f, false}, Case{0.001f, true}, Case{0.0005f, true}}) {
        OnePole filter;
        if (c.byCutoff) filter.setCutoff(48000.0f, static_cast<float>(1.0 / (2.0 * std::numbers::pi * c.seconds)));
        else filter.setTimeConstant(48000.0f, c.seconds);
        const int length = static_cast<int>(5 * c.seconds * 48000.0f);
        std::vector<float> samples(length, 1.0f);
        filter.process(samples.data(), length);
        for (int n = 0; n < length; n += 7) {
            ASSERT_NEAR(samples[n], 1.0 - std::exp(-(n + 1) / (c.seconds * 48000.0)), 2e-5) << n;
        }
    }
}

TEST(OnePole, HighPassIsTheComplementSingleSamplesMatchBlocksAndInvalidSettingsPass) {
    OnePole low, high, single;
    for (OnePole* f : {&low, &high, &single}) f->setCutoff(48000.0f, 300.0f);
    float a[64], b[64];
    for (int i = 0; i < 64; ++i) a[i] = b[i] = static_cast<float>(std::sin(0.3 * i) + 0.2);
    float input[64];
    std::copy(std::begin(a), std::end(a), input);
    low.process(a, 64);
    high.processHighPass(b, 64);
    for (int i = 0; i < 64; ++i) {
        EXPECT_NEAR(a[i] + b[i], input[i], 1e-6);
        EXPECT_EQ(single.process(input[i]), a[i]);
    }
    single.setCutoff(48000.0f, 0.0f);
    EXPECT_EQ(single.process(0.75f), 0.75f);
    single.setTimeConstant(0.0f, 1.0f);
    EXPECT_EQ(single.process(-0.25f), -0.25f);
}
