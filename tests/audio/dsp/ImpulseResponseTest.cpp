#include "audio/dsp/ImpulseResponse.h"

#include <gtest/gtest.h>

#include "tests/audio/dsp/Reference.h"

namespace {

double energyOf(const std::vector<float>& samples, std::size_t count) {
    double energy = 0.0;
    for (std::size_t i = 0; i < std::min(count, samples.size()); ++i)
        energy += static_cast<double>(samples[i]) * samples[i];
    return energy;
}

std::vector<float> sine(double frequency, double rate, std::size_t length) {
    std::vector<float> samples(length);
    for (std::size_t n = 0; n < length; ++n)
        samples[n] = static_cast<float>(std::sin(2.0 * std::numbers::pi * frequency * n / rate));
    return samples;
}

} // namespace

// Trimming and normalising a response that plays are the cabinet block's test, against the definitions.
TEST(ImpulseResponse, NormaliseRefusesSilenceOrBadValues) {
    const std::vector<std::vector<float>> refused = {
        {}, {0.0f, 0.0f}, {0.5f, NAN}, {INFINITY, 0.1f}, {1e-42f, 1e-44f, 0.0f}};
    for (std::vector<float> bad : refused) {
        const std::vector<float> before = bad;
        EXPECT_FALSE(ImpulseResponse::normalise(bad));
        ASSERT_EQ(bad.size(), before.size());
        for (std::size_t i = 0; i < bad.size(); ++i) EXPECT_TRUE(std::isnan(bad[i]) || bad[i] == before[i]);
    }
}

TEST(ImpulseResponse, ResamplingASineKeepsItsFrequencyAndScalesByTheRateRatio) {
    struct Case {
        double sourceRate;
        double frequency;
    };
    for (const Case& c : {Case{44100.0, 1000.0}, Case{96000.0, 3000.0}, Case{32000.0, 440.0}, Case{88200.0, 12000.0}}) {
        const std::size_t length = static_cast<std::size_t>(c.sourceRate / 4);
        const std::vector<float> output =
            ImpulseResponse::resample(sine(c.frequency, c.sourceRate, length), c.sourceRate);
        const double expectedLength = std::ceil(length * 48000.0 / c.sourceRate);
        ASSERT_EQ(output.size(), static_cast<std::size_t>(expectedLength));
        const double gain = c.sourceRate / 48000.0;
        double worst = 0.0;
        // Away from the ends, where the interpolation kernel runs out of input.
        for (std::size_t m = 400; m + 400 < output.size(); ++m) {
            const double expected = gain * std::sin(2.0 * std::numbers::pi * c.frequency * m / 48000.0);
            worst = std::max(worst, std::fabs(output[m] - expected));
        }
        EXPECT_LT(worst, 1e-3 * gain) << c.sourceRate;
    }
}

TEST(ImpulseResponse, ResamplingDownRemovesWhatTheNewRateCannotHold) {
    // 30 kHz at 96 kHz would alias to 18 kHz at 48 kHz.
    const std::vector<float> output = ImpulseResponse::resample(sine(30000.0, 96000.0, 24000), 96000.0);
    double peak = 0.0;
    for (std::size_t m = 400; m + 400 < output.size(); ++m)
        peak = std::max(peak, std::fabs(static_cast<double>(output[m])));
    EXPECT_LT(reference::decibels(peak / 2.0), -60.0);
}

TEST(ImpulseResponse, ResamplingKeepsTheFrequencyResponseOfAResponse) {
    // A unit impulse is a flat response: after resampling it still passes 100 Hz to 15 kHz at 0 dB.
    std::vector<float> impulse(2000, 0.0f);
    impulse[500] = 1.0f;
    for (double rate : {44100.0, 96000.0}) {
        const std::vector<float> output = ImpulseResponse::resample(impulse, rate);
        for (double f : {100.0, 1000.0, 8000.0, 15000.0}) {
            EXPECT_NEAR(reference::decibels(std::abs(reference::dtft(output, f, 48000.0))), 0.0, 0.01)
                << rate << " " << f;
        }
    }
}

TEST(ImpulseResponse, ResampleRefusesBadRatesAndCopiesAtTheSameRate) {
    const std::vector<float> input = reference::noise(64, 8u);
    EXPECT_EQ(ImpulseResponse::resample(input, 48000.0), input);
    EXPECT_TRUE(ImpulseResponse::resample(input, 0.0).empty());
    EXPECT_TRUE(ImpulseResponse::resample(input, -44100.0).empty());
    EXPECT_TRUE(ImpulseResponse::resample(input, NAN).empty());
    EXPECT_TRUE(ImpulseResponse::resample(input, 44100.0, INFINITY).empty());
    EXPECT_TRUE(ImpulseResponse::resample(input, 1.0).empty()) << "would be 48000 times longer";
    EXPECT_TRUE(ImpulseResponse::resample(input, 2.0e6).empty());
    EXPECT_TRUE(ImpulseResponse::resample({}, 44100.0).empty());
}

TEST(ImpulseResponse, MinimumPhaseOfKnownResponses) {
    struct Case {
        std::vector<float> input;
        std::vector<float> expected;
    };
    const Case cases[] = {
        {{0.5f, 1.0f}, {1.0f, 0.5f}},                         // zero at -2 reflected to -0.5
        {{1.0f, 0.5f}, {1.0f, 0.5f}},                         // already minimum phase
        {{0.0f, 0.0f, 0.0f, 1.0f}, {1.0f, 0.0f, 0.0f, 0.0f}}, // a pure delay is removed
        {{-0.5f, -1.0f}, {-1.0f, -0.5f}},                     // polarity kept
        {{0.0f, 0.0f}, {0.0f, 0.0f}},
    };
    for (const Case& c : cases) {
        const std::vector<float> output = ImpulseResponse::minimumPhase(c.input);
        ASSERT_EQ(output.size(), c.expected.size());
        for (std::size_t i = 0; i < output.size(); ++i) EXPECT_NEAR(output[i], c.expected[i], 1e-3) << i;
    }
    EXPECT_TRUE(ImpulseResponse::minimumPhase({}).empty());
}

TEST(ImpulseResponse, MinimumPhaseKeepsTheMagnitudeAndMovesTheEnergyToTheStart) {
    // A mixed-phase response: 60 samples of pre-delay, then a decaying noise burst.
    std::vector<float> response(512, 0.0f);
    const std::vector<float> burst = reference::noise(400, 77u);
    for (int i = 0; i < 400; ++i) response[60 + i] = burst[i] * static_cast<float>(std::exp(-4.0 * i / 400));
    const std::vector<float> output = ImpulseResponse::minimumPhase(response);
    ASSERT_EQ(output.size(), response.size());

    double peak = 0.0;
    for (int k = 0; k <= 256; ++k)
        peak = std::max(peak, std::abs(reference::dtft(response, k * 48000.0 / 512, 48000.0)));
    for (int k = 0; k <= 256; ++k) {
        const double f = k * 48000.0 / 512;
        const double original = std::abs(reference::dtft(response, f, 48000.0));
        if (original < peak * 3e-3) continue; // deep notches move slightly; 50 dB down it does not matter
        EXPECT_NEAR(reference::decibels(std::abs(reference::dtft(output, f, 48000.0)) / original), 0.0, 0.05) << f;
    }

    // Same energy; and of all responses with this magnitude the minimum-phase one has the most energy in
    // every leading stretch.
    const double total = energyOf(response, response.size());
    EXPECT_NEAR(energyOf(output, output.size()), total, 1e-3 * total);
    for (std::size_t n = 1; n <= response.size(); n += 7) {
        EXPECT_GE(energyOf(output, n), energyOf(response, n) - 1e-4 * total) << n;
    }
    EXPECT_GT(energyOf(output, 60), 0.3 * total) << "the pre-delay is gone";
}
