#include "audio/dsp/QuadBiquad.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "audio/dsp/Frame.h"
#include "tests/audio/dsp/Reference.h"

namespace {

using reference::Complex;
constexpr double kRate = 48000.0;
constexpr int kImpulseLength = 16384;

// The analog prototypes of the cookbook sections, evaluated at s = j * Omega with the bilinear transform's
// frequency warping Omega = tan(pi f / rate) / tan(pi f0 / rate).
struct Prototype {
    std::string name;
    double centre;
    BiquadCoefficients coefficients;
    std::function<Complex(Complex s)> response;
};

Complex analogAt(const Prototype& p, double frequency) {
    const double omega = std::tan(std::numbers::pi * frequency / kRate) / std::tan(std::numbers::pi * p.centre / kRate);
    return p.response(Complex(0.0, omega));
}

std::vector<Prototype> prototypes() {
    const float rate = static_cast<float>(kRate);
    const double a6 = std::pow(10.0, 6.0 / 40.0), am9 = std::pow(10.0, -9.0 / 40.0);
    const double a12 = std::pow(10.0, 12.0 / 40.0), am6 = std::pow(10.0, -6.0 / 40.0);
    const double r12 = std::sqrt(a12) / 0.7071, rm6 = std::sqrt(am6) / 0.7071;
    using C = BiquadCoefficients;
    return {
        {"lowPass 1k q0.707", 1000, C::lowPass(rate, 1000, 0.7071f),
         [](Complex s) { return 1.0 / (s * s + s / 0.7071 + 1.0); }},
        {"lowPass 150 q4", 150, C::lowPass(rate, 150, 4.0f), [](Complex s) { return 1.0 / (s * s + s / 4.0 + 1.0); }},
        {"highPass 80 q0.5", 80, C::highPass(rate, 80, 0.5f),
         [](Complex s) { return s * s / (s * s + s / 0.5 + 1.0); }},
        {"bandPass 700 q2", 700, C::bandPass(rate, 700, 2.0f),
         [](Complex s) { return (s / 2.0) / (s * s + s / 2.0 + 1.0); }},
        {"allPass 2k q0.9", 2000, C::allPass(rate, 2000, 0.9f),
         [](Complex s) { return (s * s - s / 0.9 + 1.0) / (s * s + s / 0.9 + 1.0); }},
        {"peaking 3k q1.5 +6dB", 3000, C::peaking(rate, 3000, 1.5f, 6.0f),
         [=](Complex s) { return (s * s + s * (a6 / 1.5) + 1.0) / (s * s + s / (a6 * 1.5) + 1.0); }},
        {"peaking 400 q0.8 -9dB", 400, C::peaking(rate, 400, 0.8f, -9.0f),
         [=](Complex s) { return (s * s + s * (am9 / 0.8) + 1.0) / (s * s + s / (am9 * 0.8) + 1.0); }},
        {"lowShelf 200 +12dB", 200, C::lowShelf(rate, 200, 0.7071f, 12.0f),
         [=](Complex s) { return a12 * (s * s + r12 * s + a12) / (a12 * s * s + r12 * s + 1.0); }},
        {"highShelf 5k -6dB", 5000, C::highShelf(rate, 5000, 0.7071f, -6.0f),
         [=](Complex s) { return am6 * (am6 * s * s + rm6 * s + 1.0) / (s * s + rm6 * s + am6); }},
    };
}

std::vector<float> impulseThroughCascade(QuadBiquad& filter) {
    std::vector<float> samples(kImpulseLength, 0.0f);
    samples[0] = 1.0f;
    for (int i = 0; i < kImpulseLength; i += Frame::kSamples)
        filter.processCascade(samples.data() + i, Frame::kSamples);
    return samples;
}

void expectNear(Complex measured, Complex expected, const std::string& what) {
    // float coefficients: about 1e-4 of the larger of the response and 1.
    EXPECT_LT(std::abs(measured - expected), 2e-4 * std::max(1.0, std::abs(expected)))
        << what << ": measured " << measured << " expected " << expected;
}

const double kProbeRatios[] = {0.1, 0.25, 0.5, 0.8, 1.0, 1.25, 2.0, 4.0, 10.0};

} // namespace

TEST(QuadBiquad, SingleSectionsMatchTheirAnalogPrototypes) {
    for (const Prototype& p : prototypes()) {
        QuadBiquad filter;
        ASSERT_TRUE(filter.setSections(&p.coefficients, 1));
        const std::vector<float> impulse = impulseThroughCascade(filter);
        for (double ratio : kProbeRatios) {
            const double f = p.centre * ratio;
            if (f >= 0.45 * kRate) continue;
            expectNear(reference::dtft(impulse, f, kRate), analogAt(p, f), p.name + " at " + std::to_string(f) + " Hz");
        }
    }
}

// A cascade of sections is measured through the amp player's tone stack, against double-precision sections.
TEST(QuadBiquad, ParallelLanesStaySeparate) {
    const auto list = prototypes();
    const Prototype* chosen[] = {&list[0], &list[5], &list[7], &list[8]};
    BiquadCoefficients sections[4];
    for (int i = 0; i < 4; ++i) sections[i] = chosen[i]->coefficients;

    QuadBiquad parallel;
    ASSERT_TRUE(parallel.setSections(sections, 4));
    std::vector<std::vector<float>> lanes(4, std::vector<float>(kImpulseLength, 0.0f));
    for (int lane = 0; lane < 4; ++lane) lanes[lane][lane * 100] = 1.0f; // different onsets per lane
    for (int i = 0; i < kImpulseLength; i += Frame::kSamples) {
        float* pointers[4] = {lanes[0].data() + i, lanes[1].data() + i, lanes[2].data() + i, lanes[3].data() + i};
        parallel.processParallel(pointers, 4, Frame::kSamples);
    }
    for (int lane = 0; lane < 4; ++lane) {
        std::vector<float> aligned(lanes[lane].begin() + lane * 100, lanes[lane].end());
        EXPECT_EQ(lanes[lane][0], lane == 0 ? sections[0].b0 : 0.0f);
        for (double ratio : {0.5, 1.0, 2.0}) {
            const double f = chosen[lane]->centre * ratio;
            expectNear(reference::dtft(aligned, f, kRate), analogAt(*chosen[lane], f), "lane " + std::to_string(lane));
        }
    }
}

TEST(QuadBiquad, NewCoefficientsApplyFromTheNextCallAndIdleSectionsRestartClean) {
    // A frame of ones through a filter.
    auto ones = [](QuadBiquad& filter, float* frame) {
        std::fill(frame, frame + Frame::kSamples, 1.0f);
        filter.processCascade(frame, Frame::kSamples);
    };
    QuadBiquad filter;
    float frame[Frame::kSamples], expected[Frame::kSamples];
    ones(filter, frame);
    EXPECT_EQ(frame[15], 1.0f) << "a new filter passes the signal through";
    BiquadCoefficients half;
    half.b0 = 0.5f;
    ASSERT_TRUE(filter.setSection(1, half)); // section 0 stays identity
    ones(filter, frame);
    EXPECT_EQ(frame[0], 0.5f);

    // A resonant section is run, parked at identity with memories left in it, then brought back: it must
    // start from rest, so a new step comes out exactly as from a fresh filter.
    const BiquadCoefficients resonant = BiquadCoefficients::lowPass(48000.0f, 500.0f, 8.0f);
    QuadBiquad fresh;
    ASSERT_TRUE(fresh.setSection(2, resonant));
    ASSERT_TRUE(filter.setSections(nullptr, 0));
    ASSERT_TRUE(filter.setSection(2, resonant));
    ones(filter, frame);
    ASSERT_TRUE(filter.setSection(2, BiquadCoefficients::identity()));
    filter.processCascade(frame, Frame::kSamples);
    ASSERT_TRUE(filter.setSection(2, resonant));
    ones(filter, frame);
    ones(fresh, expected);
    for (int i = 0; i < Frame::kSamples; ++i) EXPECT_EQ(frame[i], expected[i]) << i;

    EXPECT_FALSE(filter.setSection(4, resonant));
    EXPECT_FALSE(filter.setSection(-1, resonant));
}

TEST(QuadBiquad, CoefficientsOutOfRangeAreClampedToStableSections) {
    const float rate = 48000.0f;
    const BiquadCoefficients cases[] = {
        BiquadCoefficients::lowPass(rate, 30000.0f, 0.7f),     BiquadCoefficients::lowPass(rate, -5.0f, 0.7f),
        BiquadCoefficients::highPass(rate, 1000.0f, 0.0f),     BiquadCoefficients::bandPass(rate, 0.0f, -1.0f),
        BiquadCoefficients::peaking(rate, 1e6f, 50.0f, 24.0f), BiquadCoefficients::lowPass(0.0f, 1000.0f, 0.7f),
    };
    for (const auto& c : cases) {
        // Poles inside the unit circle: |a2| < 1 and |a1| < 1 + a2.
        EXPECT_LT(std::fabs(c.a2), 1.0f);
        EXPECT_LT(std::fabs(c.a1), 1.0f + c.a2);
        for (float v : {c.b0, c.b1, c.b2, c.a1, c.a2}) EXPECT_TRUE(std::isfinite(v));
    }
}
