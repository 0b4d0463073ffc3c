// The reverb: its decay time measured from the impulse response's energy decay, the pre-delay as a pure
// shift, damping shortening the high end and the wet level of long decays (bounds and tails at the extreme
// settings are the chain's test).
#include <gtest/gtest.h>

#include <cmath>

#include "tests/blocks/BlockTestSupport.h"
#include "core/NodeOnOff.h"
#include "blocks/ReverbFDN.h"

using namespace blocktest;

namespace {

class ReverbFDNTest : public testing::Test {
protected:
    void SetUp() override {
        folderNode = folder(testRoot(), "reverb");
        reverb = new ReverbFDN(folderNode);
        reverb->getOnOff()->setOn(true);
        set("level", 100.0f);
        set("damp", 0.0f);
        set("pre", 0.0f);
    }
    void TearDown() override { delete reverb; }
    void set(const char* key, float value) { setValue(folderNode, key, value); }
    void restart() { blocktest::restart(reverb); }
    // The wet impulse response (the dry impulse removed), after a fresh start.
    Stereo impulseResponse(double seconds) {
        restart();
        Stereo signal{size_t(seconds * kRate)};
        signal.left[0] = signal.right[0] = 1.0f;
        run(reverb, signal);
        signal.left[0] -= 1.0f;
        signal.right[0] -= 1.0f;
        return signal;
    }

    Node* folderNode = nullptr;
    ReverbFDN* reverb = nullptr;
};

// Decay time from Schroeder's backward-integrated energy: the slope between -5 and -35 dB, extrapolated to
// 60 dB.
double decayTime(const Stereo& response) {
    std::vector<double> remaining(response.size() + 1, 0.0);
    for (size_t n = response.size(); n-- > 0;) {
        remaining[n] = remaining[n + 1] + double(response.left[n]) * response.left[n] +
                       double(response.right[n]) * response.right[n];
    }
    size_t start = 0, end = 0;
    for (size_t n = 0; n < response.size(); ++n) {
        const double level = 10.0 * std::log10(remaining[n] / remaining[0]);
        if (!start && level <= -5.0) start = n;
        if (!end && level <= -35.0) end = n;
    }
    return 2.0 * double(end - start) / kRate;
}

TEST_F(ReverbFDNTest, DecayTimeWithinTwentyPercent) {
    for (float seconds : {0.5f, 2.0f, 6.0f, 10.0f}) {
        set("decay", seconds);
        const double measured = decayTime(impulseResponse(1.5 * seconds + 0.5));
        EXPECT_NEAR(measured / seconds, 1.0, 0.2) << seconds << " s measured " << measured << " s";
    }
}

// Energy of the first difference (a crude high pass) over a part of the response, against all its energy.
double highShare(const std::vector<float>& channel, size_t from, size_t to) {
    double high = 0.0, all = 0.0;
    for (size_t n = from + 1; n < to; ++n) {
        const double difference = double(channel[n]) - channel[n - 1];
        high += difference * difference;
        all += double(channel[n]) * channel[n];
    }
    return high / all;
}

TEST_F(ReverbFDNTest, PreDelayShiftsTheWholeResponseAndDampingDarkensTheTail) {
    set("decay", 1.0f);
    const Stereo direct = impulseResponse(1.0);
    set("pre", 100.0f);
    const Stereo delayed = impulseResponse(1.0);
    const size_t shift = 4800;
    for (size_t n = 0; n < shift; ++n) ASSERT_EQ(delayed.left[n], 0.0f) << n;
    for (size_t n = shift; n < direct.size(); ++n) {
        ASSERT_NEAR(delayed.left[n], direct.left[n - shift], 1e-6f) << n;
        ASSERT_NEAR(delayed.right[n], direct.right[n - shift], 1e-6f) << n;
    }

    // Damping darkens the tail; the channels differ.
    set("pre", 0.0f);
    set("decay", 3.0f);
    const Stereo open = impulseResponse(1.5);
    set("damp", 100.0f);
    const Stereo damped = impulseResponse(1.5);
    const size_t from = size_t(0.5 * kRate), to = size_t(1.5 * kRate);
    EXPECT_LT(highShare(damped.left, from, to), 0.2 * highShare(open.left, from, to));
    // Decorrelated sides: the two channels' responses are far from equal.
    double difference = 0.0, energy = 0.0;
    for (size_t n = 0; n < open.size(); ++n) {
        difference += std::pow(double(open.left[n]) - open.right[n], 2);
        energy += std::pow(double(open.left[n]), 2);
    }
    EXPECT_GT(difference, 0.5 * energy);
}

// The steady wet level under full-scale noise, in dB RMS over both channels.
double wetLevelDb(ReverbFDN* reverb) {
    const std::vector<float> hiss = noise(size_t(6.0 * kRate), 777u);
    Stereo signal{hiss.size()};
    signal.left = signal.right = hiss;
    run(reverb, signal);
    std::vector<float> wet(2 * size_t(kRate));
    for (size_t n = 0; n < size_t(kRate); ++n) {
        const size_t at = hiss.size() - size_t(kRate) + n;
        wet[2 * n] = signal.left[at] - hiss[at];
        wet[2 * n + 1] = signal.right[at] - hiss[at];
    }
    return db(rms(wet));
}

// A tail's energy grows with its decay time. Up to 2 s that is the sound presets were made with; beyond,
// the level is held within a decibel of the 2 s one instead of rising towards clipping.
TEST_F(ReverbFDNTest, LongDecaysKeepTheWetLevelOfTwoSeconds) {
    double levels[5];
    const float decays[5] = {0.5f, 1.0f, 2.0f, 5.0f, 10.0f};
    for (int i = 0; i < 5; ++i) {
        set("decay", decays[i]);
        restart();
        levels[i] = wetLevelDb(reverb);
    }
    EXPECT_GT(levels[1] - levels[0], 2.0) << "shorter decays are quieter, as they always were";
    EXPECT_GT(levels[2] - levels[1], 2.0) << "shorter decays are quieter, as they always were";
    EXPECT_NEAR(levels[3], levels[2], 1.0);
    EXPECT_NEAR(levels[4], levels[2], 1.0);
    for (float damping : {40.0f, 100.0f}) { // the damped highs no longer grow with the decay
        set("damp", damping);
        for (int i = 2; i < 5; ++i) set("decay", decays[i]), restart(), levels[i] = wetLevelDb(reverb);
        EXPECT_NEAR(levels[3], levels[2], 1.0) << "damping " << damping;
        EXPECT_NEAR(levels[4], levels[2], 1.0) << "damping " << damping;
    }
}

}
