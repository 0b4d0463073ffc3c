// The tuner: pitch within a cent on the guitar's strings, the muted frame that ends the chain while on, the
// untouched frame while off, and no reading from silence.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "BlockTestSupport.h"
#include "NodeOnOff.h"
#include "Tuner.h"

using namespace blocktest;

namespace {

class TunerTest : public testing::Test {
protected:
    void SetUp() override {
        freshHome();
        root = testRoot();
        tuner = new Tuner(folder(root, "tuner"), false);
    }
    void TearDown() override { delete tuner; }

    // Plays the signal through the tuner and returns the reading after it.
    Tuner::Reading measure(const std::vector<float>& signal) {
        Stereo stereo(signal.size());
        stereo.left = signal;
        run(tuner, stereo);
        tuner->compile();
        return tuner->getReading();
    }

    Node* root = nullptr;
    Tuner* tuner = nullptr;
};

TEST_F(TunerTest, WithinOneCentOnGuitarStrings) {
    tuner->getOnOff()->setOn(true);
    settle();
    struct Case {
        double hertz;
        int note;
        bool harmonics;
    };
    const Case cases[] = {
        {82.41, 40, false},  {110.0, 45, false},  {329.63, 64, false}, // low E, A, high E
        {82.41, 40, true},   {110.0, 45, true},   {329.63, 64, true},  // with a plucked string's overtones
        {41.20, 28, true},   {196.0, 55, false},  {659.26, 76, false},
    };
    for (const Case& c : cases) {
        const size_t samples = size_t(0.4 * kRate);
        std::vector<float> signal = sine(samples, c.hertz, 0.3, 0.4);
        if (c.harmonics) {
            // Strong second and third partials, as a string plucked near the bridge gives.
            const std::vector<float> second = sine(samples, 2.0 * c.hertz, 0.45, 1.1);
            const std::vector<float> third = sine(samples, 3.0 * c.hertz, 0.2, 2.0);
            for (size_t n = 0; n < samples; ++n) signal[n] += second[n] + third[n];
        }
        const Tuner::Reading reading = measure(signal);
        ASSERT_TRUE(reading.valid) << c.hertz;
        const double centsOff = 1200.0 * std::log2(double(reading.frequency) / c.hertz);
        EXPECT_NEAR(centsOff, 0.0, 1.0) << c.hertz << " Hz read as " << reading.frequency;
        EXPECT_EQ(reading.note, c.note) << c.hertz;
        // The cents against the tempered note, from the equation.
        const double expectedCents = 100.0 * (69.0 + 12.0 * std::log2(c.hertz / 440.0) - c.note);
        EXPECT_NEAR(reading.cents, expectedCents, 1.0) << c.hertz;
    }
    EXPECT_STREQ(Tuner::noteName(40), "E");
    EXPECT_STREQ(Tuner::noteName(45), "A");
    EXPECT_STREQ(Tuner::noteName(61), "C#");
}

TEST_F(TunerTest, MutesAndEndsTheChainOnlyWhileOn) {
    Stereo signal(4800);
    signal.left = sine(4800, 110.0, 0.5);
    signal.right = sine(4800, 220.0, 0.5);
    const Stereo original = signal;
    EXPECT_EQ(run(tuner, signal), 0);
    EXPECT_EQ(std::memcmp(signal.left.data(), original.left.data(), 4800 * sizeof(float)), 0);
    EXPECT_EQ(std::memcmp(signal.right.data(), original.right.data(), 4800 * sizeof(float)), 0);

    tuner->getOnOff()->setOn(true);
    settle();
    EXPECT_EQ(run(tuner, signal), 300);
    EXPECT_EQ(peak(signal.left), 0.0);
    EXPECT_EQ(peak(signal.right), 0.0);
}

TEST_F(TunerTest, NoReadingFromSilenceNoiseOrWhileOff) {
    const size_t samples = size_t(0.4 * kRate);
    EXPECT_FALSE(measure(sine(samples, 110.0, 0.3)).valid) << "off";
    tuner->getOnOff()->setOn(true);
    settle();
    EXPECT_FALSE(measure(std::vector<float>(samples, 0.0f)).valid) << "silence";
    EXPECT_TRUE(measure(sine(samples, 110.0, 0.3)).valid);
    std::vector<float> hiss = noise(samples);
    for (float& sample : hiss) sample *= 0.3f;
    EXPECT_FALSE(measure(hiss).valid) << "noise";
    // Switched off and on again, nothing measured before counts.
    tuner->getOnOff()->setOn(false);
    settle();
    tuner->getOnOff()->setOn(true);
    settle();
    tuner->compile();
    EXPECT_FALSE(tuner->getReading().valid);
}

}
