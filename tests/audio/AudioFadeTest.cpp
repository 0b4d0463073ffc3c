// The fade around structural changes, driven frame by frame through the step functions: its gain curve,
// latching only while silent, requests during a fade, preset loads (also through a real preset node), the
// timeout without audio; and the control pass.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "audio/AudioBlock.h"
#include "audio/AudioProcessor.h"
#include "core/NodeFloat.h"
#include "core/NodeList.h"
#include "core/NodePreset.h"
#include "porting/Shims.h"
#include "core/Source.h"
#include "core/System.h"
#include "tests/support/TestSupport.h"

namespace {

using State = AudioProcessor::FadeState;

// A block with one structural value: it takes the wanted value over only in a silent compile pass.
class LatchingBlock : public AudioBlock {
public:
    LatchingBlock() : AudioBlock("latching", nullptr, exec, AudioBlock::kBack) {}
    static bool exec(void*, float (*)[16]) { return false; }
    bool compile() override {
        ++passes;
        if (AudioProcessor::isSilentPass()) {
            ++silentPasses;
            latched = wanted;
        }
        if (debounceFromCompile) AudioProcessor::debounce(nullptr);
        if (requestFromCompile) {
            requestFromCompile = false;
            AudioProcessor::requestFade();
        }
        return false;
    }
    int wanted = 0;
    int latched = 0;
    int passes = 0;
    int silentPasses = 0;
    bool debounceFromCompile = false;
    bool requestFromCompile = false;
};

// A controllable clock for the 50 ms rules.
class AudioFade : public testing::Test {
protected:
    void SetUp() override {
        // Each case's clock starts far beyond the last one's, and a fade an earlier case of the program left
        // under way ends first, so that the case starts as a fresh process would: idle, no recent frame.
        static int64_t start = 0;
        now = start += 1000000000000;
        porting::setClock([this] { return now; });
        for (int step = 0; step < 100 && AudioProcessor::getFadeState() != State::Idle; ++step) {
            now += 100000;
            AudioProcessor::compileStep();
            frameOfOnes();
        }
        block.passes = block.silentPasses = 0;
        now += 1000000;
    }
    void TearDown() override { porting::setClock({}); }

    // Processes one frame of constant 1.0 and returns it.
    std::vector<float> frameOfOnes() {
        float frame[2][16];
        std::fill(&frame[0][0], &frame[0][0] + 32, 1.0f);
        AudioProcessor::processFrame(frame);
        return std::vector<float>(&frame[0][0], &frame[0][0] + 32);
    }
    // Frames until the state is `state` (at most `limit`); the number of frames.
    int framesUntil(State state, int limit = 100) {
        for (int frames = 1; frames <= limit; ++frames) {
            frameOfOnes();
            if (AudioProcessor::getFadeState() == state) return frames;
        }
        return -1;
    }

    // Frames of ones through a whole fade out (or in) against an independent double-precision model of its
    // gain: x0.7 per frame down to 1/700 and then 0, back up from 1/700 by /0.7 to exactly 1, linear across
    // each frame. The number of frames, -1 when they differ or the fade does not end.
    int fadeFrames(bool out) {
        double gain = out ? 1.0 : 0.0;
        for (int frames = 1; frames < 40; ++frames) {
            double target = out ? gain * 0.7 : std::max(gain, 1.0 / 700.0) / 0.7;
            const bool last = out ? target < 1.0 / 700.0 : target >= 1.0;
            if (last) target = out ? 0.0 : 1.0;
            const std::vector<float> frame = frameOfOnes();
            for (int i = 0; i < 16; ++i) {
                const double expected = gain + (target - gain) * (i + 1) / 16.0;
                if (std::fabs(frame[i] - expected) > 1e-5 * (out ? gain : 1.0) || frame[i] != frame[16 + i]) {
                    ADD_FAILURE() << (out ? "out" : "in") << " frame " << frames << " sample " << i << ": " << frame[i]
                                  << " and " << frame[16 + i] << ", expected " << expected;
                    return -1;
                }
            }
            if (last && !out) {
                EXPECT_EQ(frame[15], 1.0f);
            }
            if (last) return frames;
            gain = target;
        }
        return -1;
    }

    int64_t now = 0;
    LatchingBlock block;
};

}

TEST_F(AudioFade, GainFallsByPointSevenPerFrameToSilenceAndReturnsToExactlyOne) {
    std::vector<float> untouched = frameOfOnes();
    for (float sample : untouched) ASSERT_EQ(sample, 1.0f);
    AudioProcessor::debounce(nullptr);
    // 0.7^18 is still above 1/700, 0.7^19 below.
    EXPECT_EQ(fadeFrames(true), 19);
    EXPECT_EQ(AudioProcessor::getFadeState(), State::Silent);
    for (int i = 0; i < 5; ++i) {
        for (float sample : frameOfOnes()) ASSERT_EQ(sample, 0.0f);
    }
    EXPECT_EQ(AudioProcessor::getFadeState(), State::Silent);
    AudioProcessor::compileStep();
    EXPECT_EQ(AudioProcessor::getFadeState(), State::Compiled);
    EXPECT_EQ(fadeFrames(false), 19);
    EXPECT_EQ(AudioProcessor::getFadeState(), State::Idle);
    EXPECT_EQ(AudioProcessor::getFadeGain(), 1.0f);
    // Back at exactly unity: the frame passes bit-exact.
    float frame[2][16];
    for (int i = 0; i < 16; ++i) frame[0][i] = frame[1][i] = 0.1234567f * float(i - 8);
    AudioProcessor::processFrame(frame);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(frame[0][i], 0.1234567f * float(i - 8));
}

TEST_F(AudioFade, BlocksLatchOnlyInThePassThatRunsWhileSilent) {
    frameOfOnes();
    block.wanted = 1;
    AudioProcessor::debounce(nullptr);
    for (int frame = 0; frame < 18; ++frame) {
        frameOfOnes();
        now += 333;
        AudioProcessor::compileStep();
        ASSERT_EQ(block.latched, 0) << "latched while still audible, frame " << frame;
    }
    EXPECT_EQ(block.silentPasses, 0);
    EXPECT_EQ(framesUntil(State::Silent), 1);
    AudioProcessor::compileStep();
    EXPECT_EQ(block.latched, 1);
    EXPECT_EQ(block.silentPasses, 1);
    EXPECT_EQ(framesUntil(State::Idle), 19);
    // Further passes are ordinary ones.
    AudioProcessor::compileStep();
    EXPECT_EQ(block.silentPasses, 1);
    EXPECT_EQ(block.passes, 18 + 2);
}

TEST_F(AudioFade, ChangeRequestedDuringAFadeIsServedByAnotherFadeAfterIt) {
    AudioProcessor::debounce(nullptr);
    ASSERT_EQ(framesUntil(State::Silent), 19);
    AudioProcessor::compileStep();
    block.wanted = 2;
    for (int i = 0; i < 5; ++i) frameOfOnes(); // fading in
    ASSERT_EQ(AudioProcessor::getFadeState(), State::FadingIn);
    AudioProcessor::debounce(nullptr);
    AudioProcessor::debounce(nullptr);
    EXPECT_EQ(framesUntil(State::Idle), 14) << "the fade in completes first";
    EXPECT_EQ(framesUntil(State::FadingOut), 1) << "then the waiting change fades out again";
    EXPECT_EQ(framesUntil(State::Silent), 18);
    AudioProcessor::compileStep();
    EXPECT_EQ(block.latched, 2);
    EXPECT_EQ(framesUntil(State::Idle), 19);
    EXPECT_EQ(framesUntil(State::FadingOut, 10), -1) << "both requests were served by one fade";
}

TEST_F(AudioFade, DebounceFromTheCompileThreadDoesNothingButRequestFadeWorksThere) {
    block.debounceFromCompile = true;
    AudioProcessor::compileStep();
    EXPECT_EQ(framesUntil(State::FadingOut, 5), -1);
    block.debounceFromCompile = false;
    block.requestFromCompile = true;
    AudioProcessor::compileStep();
    EXPECT_EQ(framesUntil(State::FadingOut, 1), 1);
}

TEST_F(AudioFade, NoCompilePassRunsWhileAPresetLoads) {
    frameOfOnes();
    AudioProcessor::beginPresetLoad();
    AudioProcessor::beginPresetLoad();
    block.wanted = 3;
    AudioProcessor::debounce(nullptr);
    ASSERT_EQ(framesUntil(State::Silent), 19);
    now += 200000; // far beyond every timeout
    AudioProcessor::compileStep();
    EXPECT_EQ(block.passes, 0);
    AudioProcessor::endPresetLoad();
    AudioProcessor::compileStep();
    EXPECT_EQ(block.passes, 0) << "loads nest";
    EXPECT_EQ(AudioProcessor::getFadeState(), State::Silent);
    AudioProcessor::endPresetLoad();
    AudioProcessor::endPresetLoad(); // an extra end does not go below zero
    EXPECT_FALSE(AudioProcessor::isPresetLoading());
    AudioProcessor::compileStep();
    EXPECT_EQ(block.latched, 3);
    EXPECT_EQ(AudioProcessor::getFadeState(), State::Compiled);
}

TEST_F(AudioFade, WithoutFramesTheCompileThreadLatchesAtOnceOrAfterFiftyMilliseconds) {
    // No frame ever processed: the audio thread is not running, so nothing waits for silence.
    block.wanted = 1;
    AudioProcessor::debounce(nullptr);
    AudioProcessor::compileStep();
    EXPECT_EQ(block.latched, 1);
    EXPECT_EQ(framesUntil(State::FadingOut, 5), -1) << "the served request leaves nothing to fade";

    // Frames flowing, then the codec stops before the fade starts.
    block.wanted = 2;
    AudioProcessor::debounce(nullptr);
    const struct {
        int64_t after;
        int latched;
    } steps[] = {{10000, 1}, {30000, 1}, {49999, 1}, {50000, 2}};
    int64_t requested = now;
    for (const auto& step : steps) {
        now = requested + step.after;
        AudioProcessor::compileStep();
        EXPECT_EQ(block.latched, step.latched) << step.after << " us after the request";
    }

    // The codec stalls in the middle of a fade out: the change is compiled after 50 ms anyway, and when the
    // frames return the fade completes and comes back.
    block.wanted = 3;
    requested = now;
    AudioProcessor::debounce(nullptr);
    for (int i = 0; i < 5; ++i) frameOfOnes();
    ASSERT_EQ(AudioProcessor::getFadeState(), State::FadingOut);
    now = requested + 20000;
    AudioProcessor::compileStep();
    EXPECT_EQ(block.latched, 2);
    now = requested + 50000;
    AudioProcessor::compileStep();
    EXPECT_EQ(block.latched, 3);
    EXPECT_EQ(framesUntil(State::Silent), 14);
    AudioProcessor::compileStep();
    EXPECT_EQ(framesUntil(State::Idle), 19);
}

void loadAPresetWithCompilePasses() {
    System::initialize("test");
    Node* app = System::appNode();
    auto* list = new NodeList(System::rootNode(), "presets", "Presets", "pst_pst", 4096, 4);
    auto* preset = new NodePreset(app, "preset", "Preset", "", list);
    auto* level = new NodeFloat(app, "level", "Level", 0.0f, 10.0f, 5.0f, "", 0.5f, false, 1);
    LatchingBlock block;
    ASSERT_TRUE(AudioProcessor::audioInitialize(false));
    ASSERT_TRUE(preset->setValue(std::string("one") + NodePreset::SAVE_SUFFIX));
    // Every change of the parameter tries a compile pass on the spot.
    level->setOnChange([](Node*) { AudioProcessor::compileStep(); });
    int passes = block.passes;
    level->setValue(7.0f);
    EXPECT_EQ(block.passes, passes + 1);
    ASSERT_TRUE(preset->setValue("one"));
    EXPECT_EQ(level->getValue(), 5.0f);
    EXPECT_EQ(block.passes, passes + 1) << "no pass inside the load";
    EXPECT_FALSE(AudioProcessor::isPresetLoading());
}

// It initialises the audio processor for good: a child process of its own keeps that from later cases.
TEST(AudioFadePreset, APresetLoadKeepsTheCompilePassOut) {
    EXPECT_TRUE(testsupport::passesInAChildProcess(loadAPresetWithCompilePasses));
}

TEST(AudioFadePreset, TheControlPassPollsTheControllerSourcesOnceInitialised) {
    struct CountingSource : Source {
        CountingSource() : Source("counting", "test", Source::Kind::Ctrl) {}
        void tasks() override { ++polls; }
        int polls = 0;
    } source;
    LatchingBlock block;
    AudioProcessor::controlStep();
    EXPECT_EQ(source.polls, 0);
    ASSERT_TRUE(AudioProcessor::audioInitialize(false));
    AudioProcessor::controlStep();
    AudioProcessor::controlStep();
    EXPECT_EQ(source.polls, 2);
}
