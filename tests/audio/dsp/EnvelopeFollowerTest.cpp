#include "audio/dsp/EnvelopeFollower.h"

#include <gtest/gtest.h>

#include <cmath>

TEST(EnvelopeFollower, AttackAndReleaseFollowTheirTimeConstants) {
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
}

TEST(EnvelopeFollower, SampleAndBlockAgreeAndZeroTimesFollowInstantly) {
    EnvelopeFollower block, single;
    block.setTimes(48000.0f, 0.001f, 0.01f);
    single.setTimes(48000.0f, 0.001f, 0.01f);
    float input[32];
    for (int i = 0; i < 32; ++i) input[i] = static_cast<float>(std::sin(0.7 * i));
    float envelope[32];
    const float last = block.process(input, envelope, 32);
    for (int i = 0; i < 32; ++i) EXPECT_EQ(single.process(input[i]), envelope[i]);
    EXPECT_EQ(last, envelope[31]);

    EnvelopeFollower instant;
    instant.setTimes(48000.0f, 0.0f, 0.0f);
    EXPECT_EQ(instant.process(-0.6f), 0.6f);
    EXPECT_EQ(instant.process(0.1f), 0.1f);
}
