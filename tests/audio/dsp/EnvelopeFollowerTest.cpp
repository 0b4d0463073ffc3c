#include "audio/dsp/EnvelopeFollower.h"

#include <gtest/gtest.h>

#include <cmath>

TEST(EnvelopeFollower, AttackAndReleaseFollowTheirTimeConstantsSampleBySampleAsInBlocks) {
    EnvelopeFollower follower;
    const float attack = 0.002f, release = 0.05f;
    follower.setTimes(48000.0f, attack, release);
    // A burst of a negative constant (rectified to 1), then silence.
    std::vector<float> input(48000, 0.0f);
    const int burst = 4800;
    for (int n = 0; n < burst; ++n) input[n] = -1.0f;
    std::vector<float> envelope(input.size());
    follower.process(input.data(), envelope.data(), static_cast<int>(input.size()));
    for (int n = 0; n < burst; n += 11)
        ASSERT_NEAR(envelope[n], 1.0 - std::exp(-(n + 1) / (attack * 48000.0)), 2e-5) << n;
    const double top = envelope[burst - 1];
    for (int n = burst; n < 48000; n += 13) {
        ASSERT_NEAR(envelope[n], top * std::exp(-(n - burst + 1) / (release * 48000.0)), 2e-5) << n;
    }
    // Sample by sample the same as the block, whose last value it returns; zero times follow at once.
    EnvelopeFollower single, instant;
    single.setTimes(48000.0f, attack, release);
    for (int n = 0; n < burst + 100; ++n) ASSERT_EQ(single.process(input[n]), envelope[n]) << n;
    EXPECT_EQ(follower.process(input.data(), envelope.data(), 16), envelope[15]);
    instant.setTimes(48000.0f, 0.0f, 0.0f);
    EXPECT_EQ(instant.process(-0.6f), 0.6f);
    EXPECT_EQ(instant.process(0.1f), 0.1f);
}
