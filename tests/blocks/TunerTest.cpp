// The tuner: pitch within a cent and in the right octave from below a 5-string bass's low B to above a
// guitar's 24th fret, and no reading from silence, noise or while off (its muting and ending the chain are
// the chain's test).
#include <gtest/gtest.h>

#include <cmath>

#include "tests/blocks/BlockTestSupport.h"
#include "core/NodeOnOff.h"
#include "blocks/Tuner.h"

using namespace blocktest;

namespace {

class TunerTest : public testing::Test {
protected:
    void SetUp() override { tuner = new Tuner(folder(testRoot(), "tuner"), false); }
    void TearDown() override { delete tuner; }

    // Plays the signal through the tuner and returns the reading after it.
    Tuner::Reading measure(const std::vector<float>& signal) {
        Stereo stereo(signal.size());
        stereo.left = signal;
        run(tuner, stereo);
        tuner->compile();
        return tuner->getReading();
    }

    Tuner* tuner = nullptr;
};

TEST_F(TunerTest, WithinOneCentAndTheRightOctaveOverTheWholeRange) {
    tuner->getOnOff()->setOn(true);
    settle();
    struct Case {
        double hertz;
        bool harmonics;
        bool noisy; // white noise 30 dB below the tone
        bool whine; // as loud at 12 kHz less half the pitch: decimated unfiltered, it folds an octave below
    };
    const double range[] = {28.0, 30.87, 41.2, 82.4, 110.0, 329.6, 659.3, 1174.7, 1318.5, 1400.0};
    std::vector<Case> cases;
    for (double hertz : range) {
        cases.push_back({hertz, false, false, false});
        cases.push_back({hertz, false, true, false});
    }
    // Strong second and third partials, as a string plucked near the bridge gives.
    for (double hertz : {41.2, 82.41, 110.0, 196.0, 329.63}) cases.push_back({hertz, true, false, false});
    for (double hertz : {110.0, 329.63}) cases.push_back({hertz, false, false, true});
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.hertz << " Hz" << (c.harmonics ? ", partials" : "")
                                        << (c.noisy ? ", noise" : ""));
        const size_t samples = size_t(0.4 * kRate);
        std::vector<float> signal = sine(samples, c.hertz, 0.3, 0.4);
        if (c.harmonics) {
            const std::vector<float> second = sine(samples, 2.0 * c.hertz, 0.45, 1.1);
            const std::vector<float> third = sine(samples, 3.0 * c.hertz, 0.2, 2.0);
            for (size_t n = 0; n < samples; ++n) signal[n] += second[n] + third[n];
        }
        if (c.whine) {
            const std::vector<float> whine = sine(samples, 12000.0 - c.hertz / 2.0, 0.3, 0.0);
            for (size_t n = 0; n < samples; ++n) signal[n] += whine[n];
        }
        if (c.noisy) {
            const std::vector<float> hiss = noise(samples, uint32_t(c.hertz * 100.0));
            const double scale = rms(signal) / rms(hiss) * std::pow(10.0, -30.0 / 20.0);
            for (size_t n = 0; n < samples; ++n) signal[n] += float(scale * hiss[n]);
        }
        const Tuner::Reading reading = measure(signal);
        if (!reading.valid) {
            ADD_FAILURE() << "no reading";
            continue;
        }
        const double centsOff = 1200.0 * std::log2(double(reading.frequency) / c.hertz);
        EXPECT_NEAR(centsOff, 0.0, 1.0) << "read as " << reading.frequency << " Hz";
        // The note and the cents against it, from the equation of the tempered scale.
        const double semitones = 69.0 + 12.0 * std::log2(c.hertz / 440.0);
        const int note = int(std::lround(semitones));
        EXPECT_EQ(reading.note, note);
        EXPECT_NEAR(reading.cents, 100.0 * (semitones - note), 1.0);
    }
    EXPECT_STREQ(Tuner::noteName(40), "E");
    EXPECT_STREQ(Tuner::noteName(45), "A");
    EXPECT_STREQ(Tuner::noteName(61), "C#");
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
