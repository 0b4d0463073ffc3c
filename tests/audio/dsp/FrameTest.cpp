#include "audio/dsp/Frame.h"
#include "audio/dsp/FastMath.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

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
    // The whole-frame ramp is the sample-by-sample one exactly, also where a step lands on the target early.
    const float ramps[][3] = {{0.3f, 0.7f, 0.025f}, {1.0f, -2.0f, -0.2f}, {0.5f, 0.5f, 0.0f}}; // from, to, step
    for (const auto& ramp : ramps) {
        Samples values;
        Frame::ramp(values, ramp[0], ramp[1], ramp[2]);
        for (int i = 0; i < Frame::kSamples; ++i) EXPECT_EQ(values[i], Frame::rampAt(ramp[0], ramp[1], ramp[2], i));
    }
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

// Each inline form against libm in double precision over the range it serves; log2's range is walked in equal
// ratios, the others in equal steps.
TEST(FastMath, StaysWithinItsStatedErrorOfLibm) {
    struct Row {
        const char* name;
        float (*approximation)(float);
        double (*reference)(double);
        double from, to, maxError;
        bool relative;
    };
    const Row rows[] = {
        {"exp2", FastMath::exp2, [](double x) { return std::exp2(x); }, -40.0, 10.0, 1e-7, true},
        {"log2", FastMath::log2, [](double x) { return std::log2(x); }, 1e-6, 1e3, 1.6e-6, false},
        {"sinCycles", FastMath::sinCycles, [](double x) { return std::sin(2.0 * std::numbers::pi * x); }, -2.0, 2.0,
         2e-7, false},
        {"tanSmall", FastMath::tanSmall, [](double x) { return std::tan(x); }, -0.15, 0.15, 1.6e-7, true},
    };
    const int steps = 300000;
    for (const Row& row : rows) {
        double worst = 0.0;
        for (int i = 0; i <= steps; ++i) {
            const double at = row.from > 0.0 ? row.from * std::pow(row.to / row.from, double(i) / steps)
                                             : row.from + (row.to - row.from) * i / steps;
            const float x = float(at);
            const double expected = row.reference(double(x));
            const double error = std::fabs(double(row.approximation(x)) - expected);
            if (!row.relative) worst = std::max(worst, error);
            if (row.relative && expected != 0.0) worst = std::max(worst, error / std::fabs(expected));
        }
        EXPECT_LE(worst, row.maxError) << row.name;
    }
    // A gain of 0 dB and the sine's peaks are exact.
    EXPECT_EQ(FastMath::exp2(0.0f), 1.0f);
    EXPECT_EQ(FastMath::sinCycles(0.25f), 1.0f);
}
