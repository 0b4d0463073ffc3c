// Meters, clip hold, the meter nodes, the input copy, non-finite samples, and audioInitialize's guard.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "audio/AudioBlock.h"
#include "audio/AudioProcessor.h"
#include "core/NodeFloat.h"
#include "core/NodeItem.h"
#include "core/System.h"

namespace {

// Passes channel 0 and, when asked, silences channel 1 or writes non-finite samples.
class TestBlock : public AudioBlock {
public:
    TestBlock() : AudioBlock("test", nullptr, exec, AudioBlock::kBack) {}
    static bool exec(void* block, float (*frame)[16]) {
        TestBlock* self = AudioBlock::self<TestBlock>(block);
        if (self->muteRight) {
            for (float& sample : frame[1]) sample = 0.0f;
        }
        if (self->poison) {
            frame[0][3] = std::numeric_limits<float>::quiet_NaN();
            frame[0][7] = std::numeric_limits<float>::infinity();
            frame[1][9] = -std::numeric_limits<float>::infinity();
        }
        return false;
    }
    bool muteRight = false;
    bool poison = false;
};

void processSine(double amplitudeDb, int frames, double frequency = 997.0) {
    static long position = 0;
    const double amplitude = std::pow(10.0, amplitudeDb / 20.0);
    for (int f = 0; f < frames; ++f) {
        float frame[2][16] = {};
        for (int i = 0; i < 16; ++i, ++position) {
            frame[0][i] = float(amplitude * std::sin(2.0 * M_PI * frequency * double(position) / 48000.0));
        }
        AudioProcessor::processFrame(frame);
    }
}

void processConstant(float left, float right, int frames) {
    for (int f = 0; f < frames; ++f) {
        float frame[2][16];
        for (int i = 0; i < 16; ++i) {
            frame[0][i] = left;
            frame[1][i] = right;
        }
        AudioProcessor::processFrame(frame);
    }
}

}

TEST(AudioMeter, SineReadsItsLevelSilenceReadsTheFloorAndNodesFollow) {
    System::initialize("test");
    TestBlock block;
    ASSERT_TRUE(AudioProcessor::audioInitialize(false));
    Node* root = System::rootNode();
    auto node = [&](const char* key) {
        return static_cast<NodeFloat*>(root->pathToNode(std::string("root\\sys\\_meters\\") + key));
    };
    for (const char* key : {"_in1", "_in2", "_out1", "_out2"}) {
        ASSERT_NE(node(key), nullptr) << key;
        EXPECT_STREQ(node(key)->getUnit(), "dB");
        EXPECT_EQ(node(key)->getDecimals(), 1);
    }
    EXPECT_STREQ(static_cast<NodeItem*>(root->pathToNode("root\\sys\\_meters"))->getItemType(), "vfolder");

    EXPECT_EQ(AudioProcessor::meter(0, AudioProcessor::kInput), -110.0f);
    processSine(-6.0, 300);
    EXPECT_NEAR(AudioProcessor::meter(0, AudioProcessor::kInput), -6.0, 0.05);
    EXPECT_NEAR(AudioProcessor::meter(0, AudioProcessor::kOutput), -6.0, 0.05);
    EXPECT_EQ(AudioProcessor::meter(1, AudioProcessor::kInput), -110.0f);
    EXPECT_EQ(AudioProcessor::meter(1, AudioProcessor::kOutput), -110.0f);

    AudioProcessor::compileStep();
    EXPECT_FLOAT_EQ(node("_in1")->getValue(), -6.0f);
    EXPECT_FLOAT_EQ(node("_out1")->getValue(), -6.0f);
    EXPECT_EQ(node("_in2")->getValue(), -110.0f);
    EXPECT_EQ(node("_out2")->getValue(), -110.0f);

    // After the peak the level falls 20 dB per second (3000 frames).
    processConstant(0.0f, 0.0f, 3000);
    EXPECT_NEAR(AudioProcessor::meter(0, AudioProcessor::kInput), -26.0, 0.1);
    processConstant(0.0f, 0.0f, 30000);
    EXPECT_EQ(AudioProcessor::meter(0, AudioProcessor::kInput), -110.0f);
}

TEST(AudioMeter, ClipHoldLastsOneSecondPerChannelAndDirection) {
    TestBlock block;
    block.muteRight = true;
    EXPECT_FALSE(AudioProcessor::saturation());
    processConstant(0.5f, 1.0f, 1);
    const struct {
        int channel;
        int direction;
        bool clipped;
    } expected[] = {{0, AudioProcessor::kInput, false},
                    {1, AudioProcessor::kInput, true},
                    {0, AudioProcessor::kOutput, false},
                    {1, AudioProcessor::kOutput, false}};
    for (const auto& check : expected) {
        EXPECT_EQ(AudioProcessor::channelSaturation(check.channel, check.direction), check.clipped)
            << check.channel << "/" << check.direction;
    }
    EXPECT_TRUE(AudioProcessor::saturation());
    EXPECT_EQ(AudioProcessor::meter(1, AudioProcessor::kInput), 0.0f);

    processConstant(0.0f, 0.0f, 2999);
    EXPECT_TRUE(AudioProcessor::channelSaturation(1, AudioProcessor::kInput));
    processConstant(0.0f, 0.0f, 1);
    EXPECT_FALSE(AudioProcessor::channelSaturation(1, AudioProcessor::kInput));
    EXPECT_FALSE(AudioProcessor::saturation());

    // An output beyond full scale clips the output side; a negative full-scale input clips too.
    block.muteRight = false;
    processConstant(-1.0f, 1.5f, 1);
    EXPECT_TRUE(AudioProcessor::channelSaturation(0, AudioProcessor::kInput));
    EXPECT_TRUE(AudioProcessor::channelSaturation(1, AudioProcessor::kOutput));
    EXPECT_EQ(AudioProcessor::meter(1, AudioProcessor::kOutput), 0.0f) << "clamped to 0 dB";
}

TEST(AudioMeter, BadArgumentsGiveZeroAndFalse) {
    const int bad[][2] = {{-1, 0}, {2, 0}, {0, -1}, {0, 2}, {-5, 7}};
    for (const auto& args : bad) {
        EXPECT_EQ(AudioProcessor::meter(args[0], args[1]), 0.0f) << args[0] << "," << args[1];
        EXPECT_FALSE(AudioProcessor::channelSaturation(args[0], args[1])) << args[0] << "," << args[1];
    }
}

TEST(AudioMeter, InputCopyIsRawAndNonFiniteSamplesNeverLeave) {
    TestBlock block;
    // Meters fall 20 dB a second: enough silence takes an earlier case's peak down to the floor.
    float silence[2][16] = {};
    for (int i = 0; i < 20000 && AudioProcessor::meter(0, AudioProcessor::kOutput) > -110.0f; ++i)
        AudioProcessor::processFrame(silence);
    block.muteRight = true;
    block.poison = true;
    float frame[2][16];
    for (int i = 0; i < 16; ++i) {
        frame[0][i] = 0.01f * float(i);
        frame[1][i] = -0.02f * float(i);
    }
    AudioProcessor::processFrame(frame);
    float(*input)[16] = AudioProcessor::getInput();
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(input[0][i], 0.01f * float(i));
        EXPECT_EQ(input[1][i], -0.02f * float(i));
        EXPECT_TRUE(std::isfinite(frame[0][i]) && std::isfinite(frame[1][i])) << i;
    }
    EXPECT_EQ(frame[0][3], 0.0f);
    EXPECT_EQ(frame[0][7], 0.0f);
    EXPECT_EQ(frame[1][9], 0.0f);
    EXPECT_EQ(frame[0][4], 0.04f);
    EXPECT_NEAR(AudioProcessor::meter(0, AudioProcessor::kOutput), 20.0 * std::log10(0.15), 0.01);
}

TEST(AudioMeter, InitializeWithoutBlocksStartsNothing) {
    testing::internal::CaptureStdout();
    EXPECT_FALSE(AudioProcessor::audioInitialize(true));
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_NE(log.find("W (AudioProcessor): No audio block loaded\n"), std::string::npos) << log;
}
