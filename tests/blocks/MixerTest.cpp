// The output mixer: each gain takes its own route, the product's gain vector puts input 2 on both outputs at
// the aux gain, and gains glide across frames instead of stepping.
#include <gtest/gtest.h>

#include <cmath>

#include "tests/blocks/BlockTestSupport.h"
#include "blocks/Mixer.h"

using namespace blocktest;

namespace {

// Each gain alone, then the product's vector (the chain on both outputs, input 2 on both at the aux gain).
TEST(MixerTest, EveryGainReachesItsOwnRoute) {
    alignas(64) float aux[2][16];
    Node* app = testRoot();
    Mixer mixer(app, aux);
    // Distinct powers of two per source, so each output sample tells which routes were taken.
    const float processedLeft = 1.0f, processedRight = 2.0f, auxLeft = 4.0f, auxRight = 8.0f;
    struct Case {
        const char* what;
        float gains[8];
        float left, right;
    };
    const Case cases[] = {{"g0", {1, 0, 0, 0, 0, 0, 0, 0}, processedLeft, 0},
                          {"g1", {0, 1, 0, 0, 0, 0, 0, 0}, 0, processedRight},
                          {"g2", {0, 0, 1, 0, 0, 0, 0, 0}, processedRight, 0},
                          {"g3", {0, 0, 0, 1, 0, 0, 0, 0}, 0, processedLeft},
                          {"g4", {0, 0, 0, 0, 1, 0, 0, 0}, auxLeft, 0},
                          {"g5", {0, 0, 0, 0, 0, 1, 0, 0}, auxRight, 0},
                          {"g6", {0, 0, 0, 0, 0, 0, 1, 0}, 0, auxLeft},
                          {"g7", {0, 0, 0, 0, 0, 0, 0, 1}, 0, auxRight},
                          {"product", {0.8f, 0.8f, 0, 0, 0, 0.3f, 0, 0.3f}, 0.8f + 0.3f * 8, 1.6f + 0.3f * 8}};
    for (const Case& c : cases) {
        const float* g = c.gains;
        mixer.setMixerValue(g[0], g[1], g[2], g[3], g[4], g[5], g[6], g[7]);
        alignas(64) float frame[2][16];
        for (int repeat = 0; repeat < 600; ++repeat) { // the gains glide from those before for 0.2 s
            for (int i = 0; i < 16; ++i) {
                frame[0][i] = processedLeft;
                frame[1][i] = processedRight;
                aux[0][i] = auxLeft;
                aux[1][i] = auxRight;
            }
            Mixer::exec(&mixer, frame);
        }
        for (int i = 0; i < 16; ++i) {
            EXPECT_FLOAT_EQ(frame[0][i], c.left) << c.what << " sample " << i;
            EXPECT_FLOAT_EQ(frame[1][i], c.right) << c.what << " sample " << i;
        }
    }
}

TEST(MixerTest, GainChangesGlideAcrossFrames) {
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
        // Linear from the old gain across the frame, by the 10 ms glide's first step (1 - e^(-1/30)).
        EXPECT_NEAR(frame[0][i], 1.0f - 0.8f * 0.0327839f * float(i + 1) / 16.0f, 1e-6f) << i;
        EXPECT_NEAR(frame[1][i], frame[0][i], 1e-7f);
    }
    for (int f = 0; f < 600; ++f) {
        for (int i = 0; i < 16; ++i) frame[0][i] = frame[1][i] = 1.0f;
        Mixer::exec(&mixer, frame);
    }
    EXPECT_FLOAT_EQ(frame[0][0], 0.2f);

    mixer.setMixerValue(NAN, 1, 1, 1, 1, 1, 1, 1); // refused whole
    for (int i = 0; i < 16; ++i) frame[0][i] = frame[1][i] = 1.0f;
    Mixer::exec(&mixer, frame);
    EXPECT_FLOAT_EQ(frame[0][15], 0.2f);
}

}
