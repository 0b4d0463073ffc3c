#include "audio/dsp/SchroederAllPass.h"

#include <gtest/gtest.h>

#include <cmath>

#include "tests/audio/dsp/Reference.h"

// From H(z) = (-g + z^-D) / (1 - g z^-D): h[0] = -g, h[kD] = (1 - g^2) g^(k-1), zero elsewhere; an all-pass
// keeps the energy of its input, so the impulse response has unit energy.
TEST(SchroederAllPass, ImpulseResponseIsTheAllPassSeriesWithTheGainBelowOne) {
    struct Case {
        int delay;
        float gain;
    };
    for (const Case& c : {Case{1, 0.5f}, Case{113, 0.7f}, Case{347, -0.6f}, Case{29, 0.0f}}) {
        SchroederAllPass allPass(c.delay, c.gain);
        const int length = c.delay * 60 + 1;
        std::vector<float> samples(length, 0.0f);
        samples[0] = 1.0f;
        for (int i = 0; i < length; i += 16) allPass.process(samples.data() + i, std::min(16, length - i));
        double energy = 0.0;
        for (int n = 0; n < length; ++n) {
            double expected = 0.0;
            if (n == 0) expected = -c.gain;
            else if (n % c.delay == 0) expected = (1.0 - c.gain * c.gain) * std::pow(c.gain, n / c.delay - 1);
            ASSERT_NEAR(samples[n], expected, 1e-6) << "delay " << c.delay << " sample " << n;
            energy += static_cast<double>(samples[n]) * samples[n];
        }
        EXPECT_NEAR(energy, 1.0, 1e-4);
        for (double f : {100.0, 1234.0, 9000.0}) EXPECT_NEAR(std::abs(reference::dtft(samples, f, 48000.0)), 1.0, 1e-3);
    }
    // The gain is kept below one; single samples match blocks.
    SchroederAllPass block(37, 0.5f), single(37, 0.5f);
    for (SchroederAllPass* a : {&block, &single}) a->setGain(1.5f);
    std::vector<float> samples(400, 0.0f);
    samples[0] = 1.0f;
    std::vector<float> expected(samples.size());
    for (std::size_t i = 0; i < samples.size(); ++i) expected[i] = single.process(samples[i]);
    block.process(samples.data(), static_cast<int>(samples.size()));
    EXPECT_EQ(samples, expected);
    EXPECT_NEAR(samples[0], -0.99f, 1e-6) << "gain clamped to 0.99";
    EXPECT_EQ(block.delay(), 37);
}
