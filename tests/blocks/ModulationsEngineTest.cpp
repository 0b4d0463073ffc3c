// Modulation and tremolo: every kind repeats at exactly the set rate (or the tempo's note value) and
// changes the sound in between; the pre instance leaves channel 1 alone, the post one spreads the channels.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "tests/blocks/BlockTestSupport.h"
#include "blocks/ModulationsEngine.h"
#include "core/NodeOnOff.h"
#include "blocks/Tempo.h"

using namespace blocktest;

namespace {

class ModulationsEngineTest : public testing::Test {
protected:
    void build(bool post) {
        Node* root = testRoot();
        tempo = new Tempo(folder(root, "output"), nullptr);
        folderNode = folder(root, post ? "mod" : "mod_pre");
        engine = new ModulationsEngine(folderNode, tempo, post);
    }
    void TearDown() override {
        delete engine;
        delete tempo;
    }
    void set(const std::string& path, float value) { setValue(folderNode, path, value); }
    void choose(const std::string& path, const char* option) {
        ASSERT_TRUE(blocktest::choose(folderNode, path, option));
    }

    // Largest difference between two stretches of samples.
    static double difference(const float* a, const float* b, size_t count) {
        double largest = 0.0;
        for (size_t n = 0; n < count; ++n) largest = std::fmax(largest, std::fabs(a[n] - b[n]));
        return largest;
    }

    Tempo* tempo = nullptr;
    Node* folderNode = nullptr;
    ModulationsEngine* engine = nullptr;
};

TEST_F(ModulationsEngineTest, EveryKindRepeatsAtTheSetRate) {
    build(true);
    engine->getOnOff()->setOn(true);
    struct Case {
        const char* kind;
        float hertz;
        const char* sync; // a note value at 120 BPM overrides the rate
        size_t period;    // samples
    };
    const Case cases[] = {
        {"Chorus", 2.0f, "OFF", 24000}, {"Flanger", 2.5f, "OFF", 19200}, {"Vibrato", 4.0f, "OFF", 12000},
        {"Phaser", 1.0f, "OFF", 48000}, {"Chorus", 7.0f, "1/4", 24000},  {"Phaser", 0.3f, "1/8", 12000},
    };
    tempo->getTempoNode()->setValue(120.0f);
    set("fb", 50.0f);
    for (const Case& c : cases) {
        choose("type", c.kind);
        set("rate", c.hertz);
        choose("sync\\mod", c.sync);
        settle();
        // A tone whose period divides half the LFO's, so any difference half a period later is the
        // modulation's, and the output repeats exactly when the LFO does.
        const size_t samples = size_t(kRate) + 2 * c.period + 16;
        Stereo signal(samples);
        signal.left = signal.right = sine(samples, 1000.0, 0.5);
        run(engine, signal);
        // Over one LFO period after a settling second.
        const float* left = &signal.left[size_t(kRate)];
        EXPECT_LT(difference(left, left + c.period, c.period), 2e-3) << c.kind << " repeats";
        EXPECT_GT(difference(left, left + c.period / 2, c.period), 0.05) << c.kind << " moves";
        // The right channel runs a quarter cycle ahead of the left.
        EXPECT_GT(difference(left, &signal.right[size_t(kRate)], c.period), 0.05) << c.kind;
    }
    // Mix and Feedback reach the sound: no mix leaves the dry tone, feedback makes the flanger's comb ring.
    struct Setting {
        const char* kind;
        float mix, feedback;
        double least, most; // the largest difference from the dry tone
    };
    for (const Setting& s : {Setting{"Chorus", 0, 0, 0, 1e-6}, Setting{"Chorus", 100, 0, 0.3, 2},
                             Setting{"Flanger", 50, 0, 0, 0.55}, Setting{"Flanger", 50, 90, 0.7, 10}}) {
        choose("type", s.kind);
        set("mix", s.mix);
        set("fb", s.feedback);
        settle();
        Stereo signal{size_t(kRate)};
        signal.left = signal.right = sine(signal.size(), 1000.0, 0.5);
        const std::vector<float> dry = signal.left;
        run(engine, signal);
        const double moved = difference(&signal.left[signal.size() / 2], &dry[signal.size() / 2], signal.size() / 2);
        EXPECT_TRUE(moved >= s.least && moved <= s.most)
            << s.kind << " " << s.mix << " " << s.feedback << ": " << moved;
    }
}

TEST_F(ModulationsEngineTest, TremoloRepeatsAtItsRateWithItsDepth) {
    build(true);
    engine->getTremoloOnOff()->setOn(true);
    struct Case {
        const char* shape;
        float hertz;
        const char* sync;
        size_t period;
        float depth;
    };
    tempo->getTempoNode()->setValue(100.0f);
    const Case cases[] = {{"Sine", 4.0f, "OFF", 12000, 100},
                          {"Triangle", 6.0f, "OFF", 8000, 100},
                          {"Square", 5.0f, "OFF", 9600, 100},
                          {"Sine", 9.0f, "1/8", 14400, 100},
                          {"Sine", 4.0f, "OFF", 12000, 40}};
    for (const Case& c : cases) {
        choose("trem\\shape", c.shape);
        set("trem\\rate", c.hertz);
        choose("sync\\trem", c.sync);
        set("trem\\depth", c.depth);
        settle();
        const size_t samples = size_t(kRate) + 2 * c.period + 16;
        Stereo signal(samples);
        signal.left = signal.right = std::vector<float>(samples, 0.5f);
        run(engine, signal);
        const float* left = &signal.left[size_t(kRate)];
        EXPECT_LT(difference(left, left + c.period, c.period), 1e-4) << c.shape;
        const auto [lowest, highest] = std::minmax_element(left, left + c.period);
        EXPECT_NEAR(*highest, 0.5, 0.01) << c.shape << " " << c.depth;
        EXPECT_NEAR(*lowest, 0.5 * (1.0 - c.depth / 100.0), 0.01)
            << c.shape << " " << c.depth << "%: full depth reaches silence";
        EXPECT_EQ(signal.left, signal.right) << "the tremolo moves both channels together";
    }
}

TEST_F(ModulationsEngineTest, PreInstanceWorksOnInputOneOnly) {
    build(false);
    engine->getOnOff()->setOn(true);
    settle();
    const size_t samples = size_t(kRate);
    Stereo signal(samples);
    signal.left = signal.right = sine(samples, 1000.0, 0.5);
    const std::vector<float> original = signal.right;
    run(engine, signal);
    EXPECT_EQ(signal.right, original);
    EXPECT_GT(difference(signal.left.data(), original.data(), samples), 0.05);
}

}
