// The delay: echoes at exactly the set time, the feedback ratio, ping-pong alternation, tempo sync, gliding
// time changes (a fresh start, bounds and tails at the extreme settings are the chain's test).
#include <gtest/gtest.h>

#include <cmath>

#include "tests/blocks/BlockTestSupport.h"
#include "blocks/DelayEngine.h"
#include "core/NodeOnOff.h"
#include "blocks/Tempo.h"

using namespace blocktest;

namespace {

class DelayEngineTest : public testing::Test {
protected:
    void SetUp() override {
        Node* root = testRoot();
        tempo = new Tempo(folder(root, "output"), nullptr);
        folderNode = folder(root, "delay");
        delay = new DelayEngine(folderNode, tempo);
        delay->getOnOff()->setOn(true);
        set("level", 100.0f);
        set("tone", 100.0f);
        set("fb", 0.0f);
    }
    void TearDown() override {
        delete delay;
        delete tempo;
    }
    void set(const std::string& path, float value) { setValue(folderNode, path, value); }
    void choose(const std::string& path, const char* option) {
        ASSERT_TRUE(blocktest::choose(folderNode, path, option));
    }
    void restart() { blocktest::restart(delay); }
    // The response to a unit impulse on the left (and on the right when `both`).
    Stereo impulseResponse(size_t samples, bool both) {
        Stereo signal(samples);
        signal.left[0] = 1.0f;
        if (both) signal.right[0] = 1.0f;
        run(delay, signal);
        return signal;
    }
    // Sum of the samples in [centre - 64, centre + 64): the echo's DC content, which the tone filter keeps.
    static double echoSum(const std::vector<float>& channel, size_t centre) {
        double sum = 0.0;
        for (size_t n = centre - 64; n < centre + 64 && n < channel.size(); ++n) sum += channel[n];
        return sum;
    }

    Tempo* tempo = nullptr;
    Node* folderNode = nullptr;
    DelayEngine* delay = nullptr;
};

// The last case's note value at 120 BPM overrides the time set.
TEST_F(DelayEngineTest, EchoAtExactlyTheSetTimeOrNoteValue) {
    struct Case {
        float milliseconds;
        const char* sync;
        size_t samples;
    };
    tempo->getTempoNode()->setValue(120.0f);
    for (const Case c : {Case{250, "OFF", 12000}, Case{20, "OFF", 960}, Case{1999, "OFF", 95952},
                         Case{437.5f, "OFF", 21000}, Case{300, "1/4", 24000}}) {
        set("time", c.milliseconds);
        choose("sync\\time", c.sync);
        restart(); // switching on starts from the time set, without a glide
        const Stereo out = impulseResponse(c.samples + 1000, true);
        EXPECT_EQ(out.left[0], 1.0f);
        for (size_t n = 1; n < out.size(); ++n) {
            ASSERT_EQ(out.left[n], n == c.samples ? 1.0f : 0.0f) << c.milliseconds << " ms, " << c.sync << " at " << n;
            ASSERT_EQ(out.right[n], out.left[n]);
        }
    }
}

TEST_F(DelayEngineTest, FeedbackSetsTheRatioOfSuccessiveEchoes) {
    set("time", 100.0f);
    set("tone", 60.0f); // a darker loop keeps each echo's sum (the low pass passes DC at unity)
    for (float feedback : {30.0f, 60.0f, 95.0f}) {
        set("fb", feedback);
        restart();
        const Stereo out = impulseResponse(6 * 4800, false);
        const double first = echoSum(out.left, 4800);
        EXPECT_NEAR(first, 1.0, 1e-3);
        for (size_t k = 2; k <= 4; ++k) {
            EXPECT_NEAR(echoSum(out.left, k * 4800) / echoSum(out.left, (k - 1) * 4800), feedback / 100.0, 1e-3)
                << feedback << "% echo " << k;
        }
        EXPECT_EQ(peak(out.right), 0.0) << "without ping-pong the channels stay apart";
    }
}

TEST_F(DelayEngineTest, PingPongAlternatesSides) {
    set("time", 100.0f);
    set("fb", 50.0f);
    choose("pingpong", "ON");
    restart();
    const Stereo out = impulseResponse(6 * 4800, false);
    // The mono sum enters on the left; each echo crosses over.
    for (size_t k = 1; k <= 5; ++k) {
        const double expected = 0.5 * std::pow(0.5, double(k - 1));
        const bool left = k % 2 == 1;
        EXPECT_NEAR(echoSum(left ? out.left : out.right, k * 4800), expected, 1e-4) << "echo " << k;
        EXPECT_NEAR(echoSum(left ? out.right : out.left, k * 4800), 0.0, 1e-9) << "echo " << k;
    }
}

TEST_F(DelayEngineTest, TimeChangesGlideWithoutClicks) {
    set("time", 300.0f);
    set("fb", 50.0f);
    settle();
    const size_t samples = size_t(2 * kRate);
    Stereo signal(samples);
    signal.left = signal.right = sine(samples, 440.0, 0.4);
    run(delay, signal);
    set("time", 700.0f);
    settle();
    signal.left = signal.right = sine(samples, 440.0, 0.4, 2.0 * std::numbers::pi * 440.0 * 2.0);
    run(delay, signal);
    // A sine this loud moves at most 0.023 per sample, its echoes (at most twice as loud, an octave higher
    // at most while gliding) twice that: a click would jump far more.
    EXPECT_LT(largestStep(signal.left, 0, samples), 0.1);
    // Once settled the echo sits at the new time exactly.
    set("fb", 0.0f);
    settle();
    Stereo silence{size_t(2 * kRate)};
    run(delay, silence);
    const Stereo out = impulseResponse(40000, false);
    for (size_t n = 1; n < out.size(); ++n) ASSERT_EQ(out.left[n], n == 33600 ? 1.0f : 0.0f) << n;
}

}
