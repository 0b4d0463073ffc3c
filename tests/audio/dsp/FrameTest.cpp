#include "audio/dsp/Frame.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {
using Samples = float[Frame::kSamples];
void fill(float* samples, float value) {
    for (int i = 0; i < Frame::kSamples; ++i) samples[i] = value;
}
} // namespace

TEST(Frame, CopyGainMixAndPeak) {
    Samples a, b;
    for (int i = 0; i < Frame::kSamples; ++i) a[i] = static_cast<float>(i) - 7.5f;
    Frame::copy(b, a);
    for (int i = 0; i < Frame::kSamples; ++i) EXPECT_EQ(b[i], a[i]);
    Frame::gain(b, -2.0f);
    Frame::mix(b, a, 3.0f); // -2a + 3a = a
    for (int i = 0; i < Frame::kSamples; ++i) EXPECT_EQ(b[i], a[i]);
    EXPECT_EQ(Frame::peak(a), 7.5f);
    Frame::clear(b);
    EXPECT_EQ(Frame::peak(b), 0.0f);
}

// The gain ramp is measured through the engine's fade, sample by sample.
TEST(Frame, MixRampEndsOnItsTarget) {
    Samples destination, source;
    fill(destination, 0.25f);
    fill(source, 2.0f);
    Frame::rampMix(destination, source, 0.0f, 1.0f);
    for (int i = 0; i < Frame::kSamples; ++i) EXPECT_NEAR(destination[i], 0.25f + 2.0f * (i + 1) / 16.0f, 1e-6);
}

TEST(Frame, SanitizeReplacesOnlyNonFiniteSamples) {
    Samples samples;
    fill(samples, 0.5f);
    samples[2] = std::numeric_limits<float>::quiet_NaN();
    samples[7] = std::numeric_limits<float>::infinity();
    samples[9] = -std::numeric_limits<float>::infinity();
    samples[11] = std::numeric_limits<float>::denorm_min();
    EXPECT_EQ(Frame::sanitize(samples), 3);
    for (int i = 0; i < Frame::kSamples; ++i) {
        if (i == 2 || i == 7 || i == 9) EXPECT_EQ(samples[i], 0.0f);
        else if (i == 11) EXPECT_EQ(samples[i], std::numeric_limits<float>::denorm_min());
        else EXPECT_EQ(samples[i], 0.5f);
    }
    EXPECT_EQ(Frame::sanitize(samples), 0);
}
