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

TEST(Frame, RampsEndOnTheirTargetAndJoinWithoutASteps) {
    // Three successive fade frames, x0.7 each as in a fade-out, applied to a constant signal: the gain
    // sequence must be one straight line per frame and continuous across frames.
    Samples frames[3];
    float gains[] = {1.0f, 0.7f, 0.49f, 0.343f};
    for (int f = 0; f < 3; ++f) {
        fill(frames[f], 1.0f);
        Frame::rampGain(frames[f], gains[f], gains[f + 1]);
        EXPECT_NEAR(frames[f][Frame::kSamples - 1], gains[f + 1], 1e-6);
        const float step = (gains[f + 1] - gains[f]) / Frame::kSamples;
        const float previous = f == 0 ? gains[0] : frames[f - 1][Frame::kSamples - 1];
        EXPECT_NEAR(frames[f][0] - previous, step, 1e-6) << "frame " << f;
        for (int i = 1; i < Frame::kSamples; ++i) EXPECT_NEAR(frames[f][i] - frames[f][i - 1], step, 1e-6);
    }

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
