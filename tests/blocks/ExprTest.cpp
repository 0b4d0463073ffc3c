// The expression block: the volume's taper at heel and toe and the wah's band pass whose centre follows the
// pedal (the volume's glide is swept in the chain's test).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "tests/blocks/BlockTestSupport.h"
#include "blocks/Expr.h"
#include "core/NodeOnOff.h"

using namespace blocktest;

namespace {

class ExprTest : public testing::Test {
protected:
    void SetUp() override {
        folderNode = folder(testRoot(), "exp");
        expr = new Expr(folderNode);
        expr->getOnOff()->setOn(true);
        settle();
    }
    void TearDown() override { delete expr; }
    void set(const std::string& path, float value) { setValue(folderNode, path, value), settle(); }
    Stereo play(const std::vector<float>& signal) {
        Stereo stereo(signal.size());
        stereo.left = stereo.right = signal;
        run(expr, stereo);
        EXPECT_EQ(stereo.right, signal) << "channel 1 passes untouched";
        return stereo;
    }

    Node* folderNode = nullptr;
    Expr* expr = nullptr;
};

TEST_F(ExprTest, VolumeTaperFromHeelToToe) {
    const size_t samples = size_t(0.4 * kRate);
    const std::vector<float> tone = sine(samples, 440.0, 0.5);
    struct Case {
        float percent;
        double gain; // (10^(2p) - 1) / 99
    };
    for (const Case c : {Case{100, 1.0}, Case{0, 0.0}, Case{50, 9.0 / 99.0}, Case{25, (std::sqrt(10.0) - 1) / 99.0}}) {
        set("vol", c.percent);
        const Stereo out = play(tone);
        // Settled after 0.25 s (the glide's 15 ms time constant lands on the target).
        for (size_t n = size_t(0.25 * kRate); n < samples; ++n) {
            ASSERT_NEAR(out.left[n], c.gain * tone[n], 1e-5 * c.gain + 1e-9) << c.percent << "% at " << n;
        }
    }
    set("vol", 100.0f);
    play(tone);
    const Stereo out = play(tone);
    EXPECT_EQ(std::memcmp(out.left.data(), tone.data(), samples * sizeof(float)), 0) << "toe down is an exact pass";
}

// The frequency of the largest steady gain among log-spaced test tones, and that gain in dB.
std::pair<double, double> loudest(const std::function<Stereo(const std::vector<float>&)>& play) {
    double bestHertz = 0.0, bestDb = -200.0;
    for (double hertz = 200.0; hertz < 4000.0; hertz *= 1.02) {
        const size_t samples = size_t(0.15 * kRate);
        const std::vector<float> tone = sine(samples, hertz, 0.1);
        const Stereo out = play(tone);
        const double gain = db(rms(out.left, samples / 2) / rms(tone, samples / 2));
        if (gain > bestDb) {
            bestDb = gain;
            bestHertz = hertz;
        }
    }
    return {bestHertz, bestDb};
}

TEST_F(ExprTest, WahCentreFollowsThePedal) {
    expr->getWahOnOff()->setOn(true);
    settle();
    struct Case {
        float position;
        double centre;
    };
    for (const Case c : {Case{0, 350.0}, Case{50, std::sqrt(350.0 * 2200.0)}, Case{100, 2200.0}}) {
        set("wah\\pos", c.position);
        const auto [hertz, gain] = loudest([this](const std::vector<float>& tone) { return play(tone); });
        EXPECT_NEAR(hertz / c.centre, 1.0, 0.03) << c.position << "%";
        EXPECT_NEAR(gain, 0.0, 0.3) << "unity at the centre, " << c.position << "%";
        // A band pass: an octave and a half away it is well down.
        const size_t samples = size_t(0.15 * kRate);
        const std::vector<float> far = sine(samples, c.centre * 3.0, 0.1);
        EXPECT_LT(db(rms(play(far).left, samples / 2) / rms(far, samples / 2)), -9.0) << c.position << "%";
    }
}

}
