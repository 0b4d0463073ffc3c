// The model base, the input buffer and the linear model.
#include "tests/nnet/NnetTestSupport.h"
#include "nnet/Linear.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace {

using nnet_test::thrownText;

// Exposes the input buffer's bookkeeping.
class LinearProbe : public nnet::Linear {
public:
    using Linear::Linear;
    size_t bufferSize() const { return inputBuffer.size(); }
    long offset() const { return inputBufferOffset; }
    bool bufferIsSilent() const {
        return std::all_of(inputBuffer.begin(), inputBuffer.end(), [](float v) { return v == 0.0f; });
    }
};

std::vector<float> process(nnet::DSP& model, std::vector<float> signal) {
    model.process(signal.data(), signal.data(), static_cast<int>(signal.size()));
    return signal;
}

TEST(Linear, ImpulseResponseIsTheWeightsNewestFirstPlusBiasAndRefusedArchitectures) {
    const float a = 0.5f, b = -0.25f, c = 2.0f, d = 0.125f;
    nnet::Linear model(3, true, {a, b, c, d}, 48000.0);
    EXPECT_EQ(process(model, {1, 0, 0, 0}), (std::vector<float>{d + a, d + b, d + c, d}));
    nnet::Linear noBias(3, false, {a, b, c}, -1.0);
    EXPECT_EQ(process(noBias, {1, 0, 0, 0}), (std::vector<float>{a, b, c, 0}));

    // Refused architectures.
    const std::string mismatch = "Params vector does not match expected size based on architecture parameters";
    const std::vector<std::tuple<int, bool, std::vector<float>, std::string>> table = {
        {3, true, {1, 2, 3}, mismatch},
        {3, false, {1, 2, 3, 4}, mismatch},
        {-2, false, {}, "Receptive field must not be negative: -2"},
        {-1, true, {1}, "Receptive field must not be negative: -1"},
        {0, true, {0.5f}, "<nothing thrown>"},
    };
    for (const auto& [field, bias, weights, expected] : table)
        EXPECT_EQ(thrownText<std::runtime_error>([&] { nnet::Linear(field, bias, weights, -1.0); }), expected)
            << field << ", " << weights.size() << " weights";
}

TEST(Buffer, GrowsToAPowerOfTwoAndClearsOnlyWhenABlockDemandsIt) {
    LinearProbe model(8, false, nnet_test::counting(8), -1.0);
    EXPECT_EQ(model.bufferSize(), 256u);
    EXPECT_EQ(model.offset(), 8);
    EXPECT_TRUE(model.bufferIsSilent());

    std::vector<float> block(16, 1.0f);
    model.process(block.data(), block.data(), 16);
    EXPECT_EQ(model.bufferSize(), 1024u); // 8 + 32 * 16 = 520, rounded up
    EXPECT_EQ(model.offset(), 24);

    model.process(block.data(), block.data(), 0);
    model.process(block.data(), block.data(), -4);
    EXPECT_EQ(model.offset(), 24);

    LinearProbe small(8, false, nnet_test::counting(8), -1.0);
    for (int i = 0; i < 100; ++i) {
        small.process(block.data(), block.data(), 4);
        EXPECT_EQ(small.bufferSize(), 256u);
    }
}

// Growing the buffer drops the history: after a larger block the model answers as a fresh one does.
TEST(Buffer, GrowthForgetsTheHistory) {
    const std::vector<float> weights = nnet_test::counting(9, 0.1f);
    LinearProbe used(8, true, weights, -1.0);
    LinearProbe fresh(8, true, weights, -1.0);
    process(used, std::vector<float>(4, 1.0f));
    const std::vector<float> large = nnet_test::counting(64, 0.3f);
    EXPECT_EQ(process(used, large), process(fresh, large));
}

// Counts the blocks that prewarming runs.
class CountingModel : public nnet::DSP {
public:
    CountingModel(int prewarmSamples) : DSP(48000.0), prewarmSamples(prewarmSamples) {}
    void process(float*, float*, int numFrames) override { blocks.push_back(numFrames); }
    int PrewarmSamples() override { return prewarmSamples; }
    int prewarmSamples;
    std::vector<int> blocks;
};

TEST(DSP, PrewarmRunsWholeBlocksOfTheLargestBlockSizeAndTheBaseModelPassesSamplesThrough) {
    const std::vector<std::tuple<int, int, std::vector<int>>> table = {
        {100, 64, {64, 64}}, {512, 512, {512}}, {513, 512, {512, 512}}, {100, 0, std::vector<int>(100, 1)},
        {0, 64, {}},         {-5, 64, {}},
    };
    for (const auto& [samples, maxBufferSize, expected] : table) {
        CountingModel model(samples);
        if (maxBufferSize != 512) model.Reset(48000.0, maxBufferSize);
        model.prewarm();
        EXPECT_EQ(model.blocks, expected) << samples << " samples, blocks of " << maxBufferSize;
    }

    // The base model passes samples through, without prewarm.
    nnet::DSP passThrough(-1.0);
    EXPECT_EQ(process(passThrough, {1, -2, 3}), (std::vector<float>{1, -2, 3}));
    EXPECT_EQ(passThrough.PrewarmSamples(), 0);
}

} // namespace
