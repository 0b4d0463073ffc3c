// The output mixer: the product's gain vector puts input 2 on both outputs at the aux gain, and gains ramp
// across a frame instead of stepping.
#include <gtest/gtest.h>

#include <cmath>

#include "tests/blocks/BlockTestSupport.h"
#include "blocks/Mixer.h"

using namespace blocktest;

namespace {

TEST(MixerTest, ProductGainsMixTheChainAndInputTwo) {
    alignas(64) float aux[2][16];
    Node* app = testRoot();
    const int childrenBefore = app->childrenCount();
    Mixer mixer(app, aux);
    EXPECT_EQ(app->childrenCount(), childrenBefore) << "the mixer creates no node";

    const float mainGain = 0.8f, auxGain = 0.3f;
    mixer.setMixerValue(mainGain, mainGain, 0, 0, 0, auxGain, 0, auxGain);
    for (int frameIndex = 0; frameIndex < 3; ++frameIndex) {
        alignas(64) float frame[2][16];
        for (int i = 0; i < 16; ++i) {
            frame[0][i] = 0.1f * float(i + 1);       // processed left
            frame[1][i] = -0.05f * float(i + 1);     // processed right
            aux[0][i] = 0.9f;                        // raw input 1 (the guitar): must not reach the outputs
            aux[1][i] = 0.01f * float(i + 1) - 0.2f; // raw input 2
        }
        Mixer::exec(&mixer, frame);
        if (frameIndex == 0) continue; // the ramp from the starting gains
        for (int i = 0; i < 16; ++i) {
            const float input2 = 0.01f * float(i + 1) - 0.2f;
            EXPECT_NEAR(frame[0][i], mainGain * 0.1f * float(i + 1) + auxGain * input2, 1e-6f) << i;
            EXPECT_NEAR(frame[1][i], mainGain * -0.05f * float(i + 1) + auxGain * input2, 1e-6f) << i;
        }
    }
}

TEST(MixerTest, EveryGainReachesItsOwnRoute) {
    alignas(64) float aux[2][16];
    Node* app = testRoot();
    Mixer mixer(app, aux);
    // Distinct powers of two per source, so each output sample tells which routes were taken.
    const float processedLeft = 1.0f, processedRight = 2.0f, auxLeft = 4.0f, auxRight = 8.0f;
    struct Case {
        int gain;
        float left, right;
    };
    const Case cases[] = {{0, processedLeft, 0}, {1, 0, processedRight}, {2, processedRight, 0}, {3, 0, processedLeft},
                          {4, auxLeft, 0},       {5, auxRight, 0},       {6, 0, auxLeft},        {7, 0, auxRight}};
    for (const Case& c : cases) {
        float gains[8] = {};
        gains[c.gain] = 1.0f;
        mixer.setMixerValue(gains[0], gains[1], gains[2], gains[3], gains[4], gains[5], gains[6], gains[7]);
        alignas(64) float frame[2][16];
        for (int repeat = 0; repeat < 2; ++repeat) {
            for (int i = 0; i < 16; ++i) {
                frame[0][i] = processedLeft;
                frame[1][i] = processedRight;
                aux[0][i] = auxLeft;
                aux[1][i] = auxRight;
            }
            Mixer::exec(&mixer, frame);
        }
        EXPECT_FLOAT_EQ(frame[0][15], c.left) << "g" << c.gain;
        EXPECT_FLOAT_EQ(frame[1][15], c.right) << "g" << c.gain;
    }
}

TEST(MixerTest, GainChangesRampAcrossTheFrame) {
    Node* app = testRoot();
    Mixer mixer(app, nullptr); // no aux frame: only the processed frame is mixed
    alignas(64) float frame[2][16];
    for (int i = 0; i < 16; ++i) frame[0][i] = frame[1][i] = 1.0f;
    Mixer::exec(&mixer, frame);
    EXPECT_EQ(frame[0][0], 1.0f) << "starts as a plain pass";

    mixer.setMixerValue(0.2f, 0.2f, 0, 0, 0, 1, 0, 1);
    for (int i = 0; i < 16; ++i) frame[0][i] = frame[1][i] = 1.0f;
    Mixer::exec(&mixer, frame);
    for (int i = 0; i < 16; ++i) {
        // Linear from the old gain (reached before the frame) to the new one on the last sample.
        EXPECT_NEAR(frame[0][i], 1.0f - 0.8f * float(i + 1) / 16.0f, 1e-6f) << i;
        EXPECT_NEAR(frame[1][i], frame[0][i], 1e-7f);
    }
    for (int i = 0; i < 16; ++i) frame[0][i] = frame[1][i] = 1.0f;
    Mixer::exec(&mixer, frame);
    EXPECT_FLOAT_EQ(frame[0][0], 0.2f);

    mixer.setMixerValue(NAN, 1, 1, 1, 1, 1, 1, 1); // refused whole
    for (int i = 0; i < 16; ++i) frame[0][i] = frame[1][i] = 1.0f;
    Mixer::exec(&mixer, frame);
    EXPECT_FLOAT_EQ(frame[0][15], 0.2f);
}

}
